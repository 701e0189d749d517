// A range of addresses, END not included; END may be 2^32, one past the top
// of the address space.
#pragma once

#include <cstdint>

struct AddressRange {
    uint64_t start = 0;
    uint64_t end = 0;

    uint64_t Size() const { return end - start; }
    bool Holds(uint64_t address) const { return address >= start && address < end; }
};
