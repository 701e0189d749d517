// Writing an image as its bytes alone: from its lowest to its highest
// address, the holes filled with the pad byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "model/element_list.h"

class TextOutput;

// Sees each piece of bytes as it is written, in file order.
using ByteSink = std::function<void(const uint8_t* data, std::size_t size)>;

// Writes the bytes of `list` (ByteRuns) with its holes filled by `pad`
// into `output`, left open; `seen`, when set, sees every byte.
void WriteBinBytes(TextOutput& output, const ElementList& list, uint8_t pad, const ByteSink& seen);

// The same as a whole file, which it closes: false when it could not be
// written in full (the incomplete file is then removed).
bool WriteBin(TextOutput& output, const ElementList& list, uint8_t pad);
