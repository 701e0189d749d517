// What --info adds to its listing beyond the file's own structure: the
// warnings about what loaders refuse or do differently, the check against
// memory layouts with the pages each element erases, and the listing as one
// JSON document for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dfuse/dfu_parser.h"
#include "image/image.h"
#include "info/info.h"
#include "layout/layout_check.h"
#include "app/options.h"

// A file's targets and elements as far as they could be read, whatever its
// kind; the bytes stay with the caller.
struct ListedElement {
    uint32_t address;
    uint32_t size;
    const uint8_t* data;
};

struct ListedTarget {
    uint8_t alternate = 0;
    bool named = false;
    std::string name;
    std::vector<ListedElement> elements;
};

struct ListedFile {
    const InputFile* input = nullptr;
    const DfuFileInfo* dfu = nullptr;  // for a DfuSe file
    std::vector<ListedTarget> targets;
};

ListedFile ListDfuFile(const InputFile& input, const DfuFileInfo& info, const uint8_t* bytes);
// An image that could not be loaded (null) lists no target.
ListedFile ListImage(const InputFile& input, const CImage* image);

// The warnings of the listing, each without its "warning: ".
std::vector<std::string> InfoWarnings(const ListedFile& file, const layout::LayoutMap& layouts);

// Adds the layout lines and warnings to `result`'s listing and the first
// layout violation to its error (when it has none yet); with `json`, the
// listing becomes the JSON document.
void FinishInfo(const ListedFile& file, const layout::LayoutMap& layouts, bool json, InfoResult& result);
