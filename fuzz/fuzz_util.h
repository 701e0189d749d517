// What the fuzzers share: a private temporary directory for the files they
// write and read back.
#pragma once

#include <unistd.h>

#include <string>

inline std::string FuzzTempPath(const char* name) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/fwfuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir + "/" + name;
}
