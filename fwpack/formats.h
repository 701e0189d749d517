// Each file format's reader and writer: free functions that read a file into
// an element list and write a list out as a file.
#pragma once

#include <cstdint>

#include "element_list.h"

// The record readers add every data record through ElementList::AddData. A
// problem in the file ends the reading with the reader's line-numbered
// diagnostic on standard error; the elements read before it stay in the list.
// False as well, and silently, when the file cannot be opened or read.
bool ReadHexFile(const char* path, ElementList& list);
bool ReadSRecFile(const char* path, ElementList& list);
enum class BinRead { kRead, kUnreadable, kPastTheTop };
// The whole file as one element at `base`; an empty file gives no element.
// kPastTheTop as soon as the bytes read pass address 0xFFFFFFFF, so that a
// source that never ends is not read to the end of memory.
BinRead ReadBinFile(const char* path, uint32_t base, ElementList& list);

// The writers write the elements in list order and skip those that
// HasAddressableBytes() refuses. False when the file could not be written in
// full; an incomplete file is then removed.
bool WriteHexFile(const char* path, const ElementList& list, bool end_of_file_record);
bool WriteSRecFile(const char* path, const ElementList& list);
