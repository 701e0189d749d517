// --info: lists what a DfuSe, Intel HEX, S-record or raw binary file holds
// and checks it, writing nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "dfuse/dfu_parser.h"
#include "image/image.h"
#include "layout/layout_check.h"
#include "app/options.h"

// Where a listing goes, in pieces of whole lines, as it is made: a listing
// has a line for every element and may be larger than the file it lists.
using ListingSink = std::function<void(const char* text, std::size_t length)>;

// The listing of a DfuSe file as far as it could be read; every line ends in "\n".
void DescribeDfuFile(const std::string& path, const DfuFileInfo& info, const ListingSink& sink);
std::string DescribeDfuFile(const std::string& path, const DfuFileInfo& info);

// The listing of an image loaded from a file of the kind `kind` ("Intel HEX file").
void DescribeImage(const std::string& path, const char* kind, const CImage& image, const ListingSink& sink);
std::string DescribeImage(const std::string& path, const char* kind, const CImage& image);

// What --info found besides the listing as it was made: what follows it,
// and, when the file is not sound or cannot be read, the lines for standard error.
struct InfoResult {
    std::string listing;  // what follows the listing on standard output, or the JSON document
    std::string error;    // the lines for standard error, when the file is not sound
};

// Lists and checks `input`, against the layouts of its alternate settings
// when there are any. The listing goes to `sink` as it is made; what follows
// it (the pages erased, the warnings) is left in the result's listing, which
// with `json` is instead the whole listing as one JSON document, and nothing
// goes to `sink`.
InfoResult RunInfo(const InputFile& input, const ListingSink& sink, const layout::LayoutMap& layouts = {},
                   bool json = false);
