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
// The whole file as one element at `base`; an empty file gives no element.
// False when the file cannot be read or its bytes would run past address
// 0xFFFFFFFF.
bool ReadBinFile(const char* path, uint32_t base, ElementList& list);

// The writers write the elements in list order and skip those that
// HasAddressableBytes() refuses. False when the file could not be written in
// full; an incomplete file is then removed.
bool WriteHexFile(const char* path, const ElementList& list, bool end_of_file_record);
bool WriteSRecFile(const char* path, const ElementList& list);
