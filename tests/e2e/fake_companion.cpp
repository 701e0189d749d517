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

std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// Binary, so that the tests read back exactly what was seen: the recorded
// env_vars.txt keeps its own line ends.
void Record(const std::string& dir, const char* name, const std::string& text) {
    const std::string path = dir + "\\" + name;
    std::FILE* file = _wfopen(Wide(path).c_str(), L"wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

bool ReadWhole(const std::string& path, std::string& text) {
    std::FILE* file = _wfopen(Wide(path).c_str(), L"rb");
    if (file == nullptr) return false;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return true;
}

// Paths are taken through the wide calls and recorded in UTF-8, so that the
// tests compare them with the build machine's names whatever their characters.
std::string CurrentDirectory() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(needed, L'\0');
    const DWORD length = GetCurrentDirectoryW(needed, dir.data());
    dir.resize(length < needed ? length : 0);
    return Utf8(dir);
}

std::string OwnDirectory() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    const std::size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::string() : Utf8(path.substr(0, cut));
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
