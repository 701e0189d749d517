// Reading Motorola S-record files into an element list.
#pragma once

#include <cstdio>

#include "model/element_list.h"
#include "util/error.h"

// Every data record is added through ElementList::AddData. A problem in the
// file ends the reading with the reader's line-numbered diagnostic in
// `error`; the elements read before it stay in the list. False as well, with
// no diagnostic, when the file cannot be opened or read.
bool ReadSRecFile(const char* path, ElementList& list, Error& error);
// The same from a stream that is open already (standard input, say).
bool ReadSRec(std::FILE* file, ElementList& list, Error& error);
// The same through the field reader alone, record by record: the reference
// that the reading above, which takes the usual record in one step, must
// agree with on any input.
bool ReadSRecByFields(std::FILE* file, ElementList& list, Error& error);
