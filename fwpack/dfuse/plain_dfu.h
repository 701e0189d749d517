// Writing a plain DFU file: the firmware's bytes from the lowest to the
// highest address, holes filled, then the DFU suffix (DFU version 0x0100).
#pragma once

#include <cstdint>

#include "dfuse/defaults.h"
#include "model/element_list.h"

class TextOutput;

// The identity of a plain file when the command line gives none: any
// device, as the suffix tools write it.
inline DeviceIdentity AnyDeviceIdentity() { return DeviceIdentity{0xFFFF, 0xFFFF, 0xFFFF}; }

// Writes `list` with its holes filled by `pad`, and the suffix with
// `identity`, into `output`, which it closes. False when the file could not
// be written in full (the incomplete file is then removed).
bool WritePlainDfu(TextOutput& output, const ElementList& list, uint8_t pad, const DeviceIdentity& identity);
