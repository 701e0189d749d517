// Reading DfuSe files: every field of the prefix, the targets, their element
// records and the DFU suffix, checked against the bytes that are really there.
// The parser works on bytes in memory and never reads outside them, whatever
// they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DfuElementInfo {
    uint32_t address = 0;
    uint32_t size = 0;
    std::size_t data_offset = 0;  // of the element's first data byte in the file
};

struct DfuTargetInfo {
    std::size_t offset = 0;  // of the target prefix in the file
    uint8_t alternate = 0;
    uint32_t named = 0;
    std::string name;  // of a named target: up to the first zero of the name field
    uint32_t target_size = 0;
    uint32_t element_count = 0;
    std::vector<DfuElementInfo> elements;  // the records read, in file order
    bool complete = false;                 // every element record read and the size field agrees
};

struct DfuSuffixInfo {
    uint16_t release = 0;
    uint16_t product = 0;
    uint16_t vendor = 0;
    uint16_t dfu_version = 0;
    uint8_t length = 0;
    uint32_t crc = 0;           // as stored
    uint32_t computed_crc = 0;  // over every byte before the stored CRC
};

// What a DfuSe file (or a plain DFU file) holds, as far as it could be read. `problem` names the
// first thing that is wrong and is empty for a sound file. The suffix is read
// first, as loaders do; a wrong suffix does not stop the reading of the rest.
struct DfuFileInfo {
    std::size_t file_size = 0;
    bool suffix_read = false;
    // A plain DFU file: its suffix has DFU version 0x0100 or 0x0110 and no
    // DfuSe prefix comes first, so every byte before the suffix is the
    // firmware's, and the file holds no address.
    bool plain = false;
    DfuSuffixInfo suffix;
    bool prefix_read = false;
    uint8_t version = 0;
    uint32_t image_size = 0;
    // The image size field counts the suffix too (the file's whole size), as
    // some packers write it; loaders take such a file all the same.
    bool image_size_counts_suffix = false;
    uint8_t target_count = 0;
    std::vector<DfuTargetInfo> targets;  // those whose prefix could be read
    std::string problem;

    bool IsSound() const { return problem.empty(); }
};

DfuFileInfo ParseDfuFile(const uint8_t* data, std::size_t size);
