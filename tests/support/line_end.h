// The line end of text files on the platform the tests run on: text-mode
// output turns each "\n" into CR LF on Windows and keeps it elsewhere. Tests
// that compare written text files against expected text take it from here.
#pragma once

#include <string>

namespace testutil {

#if defined(_WIN32)
inline constexpr const char* kLineEnd = "\r\n";
#else
inline constexpr const char* kLineEnd = "\n";
#endif

// `text` with each "\n" as a text file written on this platform holds it.
inline std::string WithLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            out += kLineEnd;
        else
            out += c;
    }
    return out;
}

}  // namespace testutil
