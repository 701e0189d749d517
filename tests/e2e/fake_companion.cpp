// A stand-in for the launcher's companion in the end-to-end tests of the
// Windows build: the tests copy it beside the launcher as qxini_core.exe. It
// records its current directory, its argument count, one inherited variable
// and the env_vars.txt beside it into the directory STANDIN_RECORD_DIR, then
// ends with the status in STANDIN_STATUS (decimal or 0x-hexadecimal).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Binary, so that the tests read back exactly what was seen: the recorded
// env_vars.txt keeps its own line ends.
void Record(const std::string& dir, const char* name, const std::string& text) {
    const std::string path = dir + "\\" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

bool ReadWhole(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return true;
}

std::string CurrentDirectory() {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    std::string dir(needed, '\0');
    const DWORD length = GetCurrentDirectoryA(needed, dir.data());
    dir.resize(length < needed ? length : 0);
    return dir;
}

std::string OwnDirectory() {
    std::string path(32768, '\0');
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    const std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

int main(int argc, char**) {
    const char* record_dir = std::getenv("STANDIN_RECORD_DIR");
    const char* status_text = std::getenv("STANDIN_STATUS");
    if (record_dir != nullptr) {
        const std::string rec = record_dir;
        Record(rec, "cwd", CurrentDirectory() + "\n");
        Record(rec, "argc", std::to_string(argc - 1) + "\n");
        const char* inherited = std::getenv("QX_INI_PATH");
        Record(rec, "inherited", inherited != nullptr ? inherited : "unset");
        std::string env_vars;
        if (ReadWhole(OwnDirectory() + "\\env_vars.txt", env_vars)) Record(rec, "env_vars", env_vars);
    }
    // The whole 32-bit range, as a crashed or killed program ends with one.
    const unsigned long status = status_text != nullptr ? std::strtoul(status_text, nullptr, 0) : 0;
    ExitProcess(static_cast<UINT>(status));
}
