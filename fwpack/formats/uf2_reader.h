// Reading a UF2 file into an element list: each block's payload at its
// address, every field checked against the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/element_list.h"

struct Uf2Family {
    std::optional<uint32_t> id;  // none: blocks that carry no family ID
    uint64_t blocks = 0;
};

// What a UF2 file holds, as far as it could be read. `problem` names the
// first thing that is wrong and is empty for a sound file.
struct Uf2FileInfo {
    std::size_t file_size = 0;
    uint64_t blocks = 0;
    // Blocks left out as the format asks: not for main flash, or parts of a
    // file container.
    uint64_t skipped = 0;
    // The families of the other blocks, in the order of their first block.
    std::vector<Uf2Family> families;
    std::string problem;

    bool IsSound() const { return problem.empty(); }
};

// Reads the blocks of the UF2 file at `data` into `list` (in address order,
// adjacent payloads merged); with `family`, only the blocks of that family.
// A file of several families needs `family`. Nothing is added to `list`
// unless the file is sound.
Uf2FileInfo ReadUf2(const uint8_t* data, std::size_t size, std::optional<uint32_t> family, ElementList& list);

// "0x4D2F6A1E", or "none" for blocks without a family ID.
std::string FamilyText(const std::optional<uint32_t>& family);
