// Each file format's reader and writer: free functions that read a file into
// an element list and write a list out as a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "element_list.h"

class TextOutput;

// The record readers add every data record through ElementList::AddData. A
// problem in the file ends the reading with the reader's line-numbered
// diagnostic on standard error; the elements read before it stay in the list.
// False as well, and silently, when the file cannot be opened or read.
bool ReadHexFile(const char* path, ElementList& list);
bool ReadSRecFile(const char* path, ElementList& list);
// The same from a stream that is open already (standard input, say).
bool ReadHex(std::FILE* file, ElementList& list);
bool ReadSRec(std::FILE* file, ElementList& list);
enum class BinRead { kRead, kUnreadable, kPastTheTop, kTooLarge };
// The whole file as one element at `base`; an empty file gives no element.
// kPastTheTop as soon as the bytes read pass address 0xFFFFFFFF, so that a
// source that never ends is not read to the end of memory; kTooLarge as
// soon as they pass 0xFFFFFFFF bytes, more than an element holds (from 0).
BinRead ReadBinFile(const char* path, uint32_t base, ElementList& list);
BinRead ReadBin(std::FILE* file, uint32_t base, ElementList& list);
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

// The writers write the elements in list order and skip those that
// HasAddressableBytes() refuses. False when the file could not be written in
// full; an incomplete file is then removed.
bool WriteHexFile(const char* path, const ElementList& list, bool end_of_file_record);
bool WriteSRecFile(const char* path, const ElementList& list);
// The same into an output that is open already (standard output, say),
// which they close.
bool WriteHex(TextOutput& output, const ElementList& list, bool end_of_file_record);
bool WriteSRec(TextOutput& output, const ElementList& list);
