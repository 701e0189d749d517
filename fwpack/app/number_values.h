// Numbers and address ranges of the options that take them as C writes
// numbers: "0x" or "0X" and hexadecimal digits, else decimal digits. A number
// that has hexadecimal letters but no "0x", or a decimal of two digits or
// more that starts with 0, is refused, so that an address written in the
// habit of -b ("08000000") is never read as a decimal. -b keeps its own rule.
#pragma once

#include <cstdint>
#include <string>

#include "model/address_range.h"

// A number from 0 to `max`; false with what is wrong in `problem` (the
// value in quotes, without the option's name).
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value, std::string& problem);

// The same with an optional "-" before it, from -`max` to `max`.
bool ParseSignedNumber(const std::string& text, uint64_t max, int64_t& value, std::string& problem);

// "START-END" (END not included; it may be 0x100000000) or "START+LENGTH",
// within the 32-bit address space and not empty.
bool ParseRange(const std::string& text, AddressRange& range, std::string& problem);
