// Writing an element list as a Motorola S-record file.
#pragma once

#include "model/element_list.h"

class TextOutput;

// Writes the elements in list order and skips those that
// HasAddressableBytes() refuses. False when the file could not be written in
// full; an incomplete file is then removed.
bool WriteSRecFile(const char* path, const ElementList& list);
// The same into an output that is open already (standard output, say),
// which it closes.
bool WriteSRec(TextOutput& output, const ElementList& list);
