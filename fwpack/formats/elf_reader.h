// Reading what a loader programs from an ELF file in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/element_list.h"

// The file bytes of every loadable segment of the ELF file `data` at its
// load address, in address order, segments that continue one another merged.
// False, with one line on the first problem in `problem`, for a file that is
// not ELF, has no loadable segment, puts a header or a segment outside its
// bytes, loads past address 0xFFFFFFFF or loads two segments over each other;
// nothing is read outside the `size` bytes, whatever the headers say.
bool ParseElf(const uint8_t* data, std::size_t size, ElementList& list, std::string& problem);
// The same checks made from the headers at the start of the ELF file at
// `path`, of `file_size` bytes, before its bytes are read: false, with the
// line that ParseElf would give, when the headers alone condemn the file (a
// segment of 4 GiB from address 0, say, which no element can hold).
bool ElfHeadersFit(const std::string& path, uint64_t file_size, std::string& problem);
