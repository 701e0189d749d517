// The values that go into every DfuSe file besides the firmware unless the
// command line gives others, kept as text in one table: the output
// extension, the device release number, the vendor and product identifiers
// (hexadecimal), and the target name.
#pragma once

#include <cstdint>
#include <cstdlib>

constexpr const char* kDefaults[] = {"dfu", "0000", "0483", "0000", "ST..."};
enum DefaultEntry { kExtension, kDevice, kVendor, kProduct, kTargetName };

inline uint16_t HexDefault(DefaultEntry entry) {
    return static_cast<uint16_t>(std::strtoul(kDefaults[entry], nullptr, 16));
}

// The identity that a DfuSe file's suffix gives the device it is meant for.
struct DeviceIdentity {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t release = 0;
};

// The suffix's fields when the command line gives none.
inline DeviceIdentity DefaultIdentity() {
    return DeviceIdentity{HexDefault(kVendor), HexDefault(kProduct), HexDefault(kDevice)};
}
