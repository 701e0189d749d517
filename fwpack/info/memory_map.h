// The picture of what a file does to a device's memory, as an SVG document
// made from the report: with layouts, one band per memory with its pages
// coloured by state and the elements as bars under them; without, one band
// per target over its address span. Small for any file: at most
// kMaxSvgElements XML elements, runs of alike pages and of close elements
// drawn as one.
#pragma once

#include <cstddef>
#include <string>

#include "info/report.h"

constexpr std::size_t kMaxSvgElements = 5000;

// The document; `name` is the file it shows, as its heading names it.
std::string MemoryMapSvg(const InfoReport& report, const std::string& name);

// Writes `svg` to `path` as the text outputs are written (a temporary file
// moved over the old one); false with errno set when it could not be.
bool WriteMemoryMap(const std::string& path, const std::string& svg);
