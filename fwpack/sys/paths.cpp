// The path rules: reader extension, output name and the file name split.
#include "sys/paths.h"

namespace {

char UpperCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Where the final component of `path` starts.
std::size_t FinalComponentStart(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/' || c == '\\' || (c == ':' && i == 1)) start = i + 1;
    }
    return start;
}

}  // namespace

const char* InputFormatHint(const std::string& path) {
    const std::string extension = ReaderExtension(path);
    for (const char* srec : {".S19", ".S28", ".S37", ".MOT", ".SX"}) {
        if (extension == srec) return "srec";
    }
    if (extension == ".IHX" || extension == ".IHEX") return "hex";
    return nullptr;
}

std::string ReaderExtension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < FinalComponentStart(path)) return std::string();
    std::string extension = path.substr(dot);
    for (char& c : extension) c = UpperCase(c);
    return extension;
}

FileKind KindOfPath(const std::string& path) {
    const std::string extension = ReaderExtension(path);
    if (extension == ".HEX") return FileKind::kHex;
    if (extension == ".SREC") return FileKind::kSrec;
    if (extension == ".BIN") return FileKind::kBin;
    if (extension == ".DFU") return FileKind::kDfu;
    if (extension == ".ELF" || extension == ".AXF") return FileKind::kElf;
    if (extension == ".UF2") return FileKind::kUf2;
    return FileKind::kUnknown;
}

std::string OutputName(const std::string& path, const char* extension) {
    const std::size_t dot = path.find('.', FinalComponentStart(path));
    return path.substr(0, dot) + "." + extension;
}

bool SplitFileName(const char* source, char* name, char* extension) {
    bool seen_dot = false;
    std::size_t e = 0;
    std::size_t i = 0;
    for (; source[i] != '\0'; ++i) {
        const char c = source[i];
        if (c == '.') {
            if (!seen_dot) name[i] = '\0';
            seen_dot = true;
        } else if (!seen_dot) {
            name[i] = c;
        } else {
            extension[e++] = UpperCase(c);
        }
    }
    if (!seen_dot) name[i] = '\0';
    extension[e] = '\0';
    return seen_dot;
}
