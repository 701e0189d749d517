// DfuSe files laid out byte by byte from their description, with a bitwise
// CRC: the expected files of the tests, made without the builder under test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "test_util.h"

namespace testutil {

struct LayoutElement {
    uint32_t address;
    std::vector<uint8_t> data;
};

struct LayoutTarget {
    uint8_t alternate;
    std::optional<std::string> name;  // none: an unnamed target
    std::vector<LayoutElement> elements;
};

inline void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline std::vector<uint8_t> DfuLayout(const std::vector<LayoutTarget>& targets, uint16_t vendor, uint16_t product,
                                      uint16_t release) {
    std::vector<uint8_t> body;
    for (const auto& target : targets) {
        std::vector<uint8_t> records;
        for (const auto& element : target.elements) {
            PutLe(records, element.address, 4);
            PutLe(records, static_cast<uint32_t>(element.data.size()), 4);
            records.insert(records.end(), element.data.begin(), element.data.end());
        }
        const std::string tag = "Target";
        body.insert(body.end(), tag.begin(), tag.end());
        body.push_back(target.alternate);
        PutLe(body, target.name ? 1 : 0, 4);
        std::vector<uint8_t> name(255, 0);
        if (target.name) std::copy(target.name->begin(), target.name->end(), name.begin());
        body.insert(body.end(), name.begin(), name.end());
        PutLe(body, static_cast<uint32_t>(records.size()), 4);
        PutLe(body, static_cast<uint32_t>(target.elements.size()), 4);
        body.insert(body.end(), records.begin(), records.end());
    }
    std::vector<uint8_t> file = {'D', 'f', 'u', 'S', 'e', 1};
    PutLe(file, static_cast<uint32_t>(11 + body.size()), 4);
    file.push_back(static_cast<uint8_t>(targets.size()));
    file.insert(file.end(), body.begin(), body.end());
    PutLe(file, release, 2);
    PutLe(file, product, 2);
    PutLe(file, vendor, 2);
    for (uint8_t b : {0x1A, 0x01, 0x55, 0x46, 0x44, 0x10}) file.push_back(b);
    // The suffix holds the complement of the common CRC-32.
    PutLe(file, Crc32Bitwise(file.data(), file.size()) ^ 0xFFFFFFFFu, 4);
    return file;
}

}  // namespace testutil
