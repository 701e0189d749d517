// The platform whose build of a program the end-to-end tests drive. The tests
// themselves run on the build machine; TARGET_PLATFORM=windows says that the
// program under test is a Windows build started through wine, so that paths,
// line ends and exit statuses are expected as that build gives them.
#pragma once

#include <cstdlib>
#include <string>

namespace testutil {

inline bool TargetIsWindows() {
    const char* name = std::getenv("TARGET_PLATFORM");
    return name != nullptr && std::string(name) == "windows";
}

// A path of the build machine as a Windows program run by wine sees it: wine
// shows the root of the file system as drive Z:.
inline std::string WinePath(const std::string& path) {
    std::string out = "Z:";
    for (char c : path) out += c == '/' ? '\\' : c;
    return out;
}

// Whether the tests, and so the programs they drive, are built with the
// address sanitizer, which reserves more address space than a memory limit
// of a test allows.
constexpr bool kAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
    __has_feature(address_sanitizer);
#else
    false;
#endif

}  // namespace testutil
