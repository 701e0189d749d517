// Reading Intel HEX files into an element list.
#pragma once

#include <cstdio>

#include "model/element_list.h"
#include "util/error.h"

// The record readers add every data record through ElementList::AddData. A
// problem in the file ends the reading with the reader's line-numbered
// diagnostic in `error`; the elements read before it stay in the list.
// False as well, with no diagnostic, when the file cannot be opened or read.
bool ReadHexFile(const char* path, ElementList& list, Error& error);
// The same from a stream that is open already (standard input, say).
bool ReadHex(std::FILE* file, ElementList& list, Error& error);
// The same through the field reader alone, record by record: the reference
// that the reading above, which takes the usual record in one step, must
// agree with on any input.
bool ReadHexByFields(std::FILE* file, ElementList& list, Error& error);
