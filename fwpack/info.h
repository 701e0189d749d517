// --info: lists what a DfuSe, Intel HEX, S-record or raw binary file holds
// and checks it, writing nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dfu_parser.h"
#include "image.h"
#include "layout_check.h"
#include "options.h"

// The listing of a DfuSe file as far as it could be read; every line ends in "\n".
std::string DescribeDfuFile(const std::string& path, const DfuFileInfo& info);

// The listing of an image loaded from a file of the kind `kind` ("Intel HEX file").
std::string DescribeImage(const std::string& path, const char* kind, const CImage& image);

// What --info found: the listing for standard output and, when the file is
// not sound or cannot be read, the lines for standard error.
struct InfoResult {
    std::string listing;
    std::string error;
};

// Lists and checks `input`, against the layouts of its alternate settings
// when there are any; with `json`, the listing is one JSON document.
InfoResult RunInfo(const InputFile& input, const layout::LayoutMap& layouts = {}, bool json = false);
