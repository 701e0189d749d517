// The bytes of an image as a device would hold them after writing its
// elements in order: runs in address order that never overlap, where a byte
// that several elements give takes the later element's value.
#pragma once

#include <cstdint>
#include <vector>

#include "model/element_list.h"

struct ByteRun {
    uint32_t address;
    uint32_t size;
    const uint8_t* data;  // into the list's elements
};

// The runs of `list`'s bytes, leaving out elements that
// HasAddressableBytes() refuses. No bytes are copied.
std::vector<ByteRun> ByteRuns(const ElementList& list);
