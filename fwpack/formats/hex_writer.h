// Writing an element list as an Intel HEX file.
#pragma once

#include "model/element_list.h"

class TextOutput;

// Writes the elements in list order and skips those that
// HasAddressableBytes() refuses. False when the file could not be written in
// full; an incomplete file is then removed.
bool WriteHexFile(const char* path, const ElementList& list, bool end_of_file_record);
// The same into an output that is open already (standard output, say),
// which it closes.
bool WriteHex(TextOutput& output, const ElementList& list, bool end_of_file_record);
