// Reading a raw binary file into an element list at a load address.
#pragma once

#include <cstdint>
#include <cstdio>

#include "model/element_list.h"

enum class BinRead { kRead, kUnreadable, kPastTheTop, kTooLarge };
// The whole file as one element at `base`; an empty file gives no element.
// kPastTheTop as soon as the bytes read pass address 0xFFFFFFFF, so that a
// source that never ends is not read to the end of memory; kTooLarge as
// soon as they pass 0xFFFFFFFF bytes, more than an element holds (from 0).
BinRead ReadBinFile(const char* path, uint32_t base, ElementList& list);
BinRead ReadBin(std::FILE* file, uint32_t base, ElementList& list);
