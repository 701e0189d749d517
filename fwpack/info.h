// --info: lists what a DfuSe, Intel HEX, S-record or raw binary file holds
// and checks it, writing nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dfu_parser.h"
#include "image.h"

// The listing of a DfuSe file as far as it could be read; every line ends in "\n".
std::string DescribeDfuFile(const std::string& path, const DfuFileInfo& info);

// The listing of an image loaded from a file of the kind `kind` ("Intel HEX file").
std::string DescribeImage(const std::string& path, const char* kind, const CImage& image);

// Prints the listing of `path` on standard output and the first problem, if
// any, on standard error. Returns the exit status: 0 when the file is sound.
int RunInfo(const std::string& path, std::optional<uint32_t> base);
