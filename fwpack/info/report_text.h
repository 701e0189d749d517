// --info as text, for people.
#pragma once

#include <cstddef>
#include <functional>

#include "info/report.h"

// Where a listing goes, in pieces of whole lines, as it is made: a listing
// has a line for every element and may be larger than the file it lists.
using ListingSink = std::function<void(const char* text, std::size_t length)>;

// The listing of the report, every line ending in "\n": the file's own
// structure as far as it could be read, the pages each element erases, and
// the warnings.
void WriteReportText(const InfoReport& report, const ListingSink& sink);
