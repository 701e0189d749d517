// Helpers shared by the tests: temporary directories, whole-file I/O and a
// bitwise CRC-32. Portable: the unit tests use it on every platform.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace testutil {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        std::mt19937_64 gen(rd());
        for (;;) {
            path_ = fs::temp_directory_path() / ("fwtest-" + std::to_string(gen()));
            std::error_code ec;
            if (fs::create_directory(path_, ec)) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        // Give back write permission that a test may have taken away.
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::string text = ReadFile(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// The common CRC-32 (reflected, polynomial 0xEDB88320, initial and final
// inversion), one bit at a time: a second method beside any table.
inline uint32_t Crc32Bitwise(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace testutil
