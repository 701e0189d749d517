// Writing an image as a UF2 file: a block for every 256-byte page of flash
// that holds bytes of the image.
#pragma once

#include <cstdint>
#include <optional>

#include "model/element_list.h"

class TextOutput;

// Writes `list` into `output`, which it closes: the bytes of a page that the
// image does not hold take `pad`; every block carries `family` when it is
// given. False when the file could not be written in full (the incomplete
// file is then removed).
bool WriteUf2(TextOutput& output, const ElementList& list, uint8_t pad, std::optional<uint32_t> family);
