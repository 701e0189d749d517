// --info --json: the listing as one JSON document (schema 1).
#pragma once

#include <string>
#include <vector>

#include "info/info_checks.h"

// How a target fared against the layout of its alternate setting.
struct LayoutVerdict {
    uint8_t alternate = 0;
    const layout::MemoryLayout* layout = nullptr;  // null: its alternate setting has none
    std::string violation;                         // empty when every byte may be written
};

// The document; `problem` is empty for a sound file, `verdicts` null when no
// layout was given.
std::string InfoJson(const ListedFile& file, const std::string& problem, const std::vector<std::string>& warnings,
                     const std::vector<LayoutVerdict>* verdicts);
