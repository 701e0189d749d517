// The holes of an image: the addresses between its lowest and its highest
// byte that no element holds, which a container without room for holes
// fills with the pad byte.
#pragma once

#include <cstdint>

#include "model/address_range.h"
#include "model/element_list.h"

struct HoleSummary {
    uint64_t total = 0;    // bytes in all holes
    AddressRange largest;  // the largest hole (the first of those of its size); empty when none
    AddressRange span;     // from the lowest to one past the highest byte; empty without bytes
};

// The holes between the elements of `list`, in any order, overlapping or not.
HoleSummary Holes(const ElementList& list);
