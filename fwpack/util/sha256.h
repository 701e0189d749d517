// SHA-256 of a run of bytes, fed piece by piece, for the listing that
// scripts read. A small implementation of its own, so that both the Linux
// and the Windows build need no crypto library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, std::size_t size);
    // The digest; the object is spent afterwards.
    std::array<uint8_t, 32> Finish();
    // The digest as 64 lower-case hexadecimal digits.
    std::string FinishHex();
    static std::string Hex(const std::array<uint8_t, 32>& digest);

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    uint64_t length_ = 0;  // bytes fed so far
};
