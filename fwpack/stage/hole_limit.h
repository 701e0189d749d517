// The hole limit: filling the holes of an image with the pad byte may add at
// most 16 MiB, so that a few bytes kept far away (configuration or option
// bytes) never grow a file by hundreds of megabytes unnoticed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/element_list.h"
#include "model/holes.h"
#include "util/error.h"

constexpr uint64_t kHoleLimit = uint64_t{16} << 20;

// The error for `what` ("-f bin", "--fill all") filling the holes of `list`,
// the image of `path`, when they add up to more than the hole limit: it names
// the largest hole and points at --crop and --exclude. None within the limit.
std::optional<Error> HoleLimitError(const ElementList& list, const std::string& path, const char* what);
// The same for holes already summed up.
std::optional<Error> HoleLimitError(const HoleSummary& holes, const std::string& path, const char* what);
