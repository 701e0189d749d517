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
