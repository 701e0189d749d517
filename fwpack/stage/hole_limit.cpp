// The hole limit's check and its message.
#include "stage/hole_limit.h"

#include "model/holes.h"
#include "util/text_format.h"

std::optional<Error> HoleLimitError(const ElementList& list, const std::string& path, const char* what) {
    return HoleLimitError(Holes(list), path, what);
}

std::optional<Error> HoleLimitError(const HoleSummary& holes, const std::string& path, const char* what) {
    if (holes.total <= kHoleLimit) return std::nullopt;
    return Error::Problem(
        path,
        Format("%s would fill %llu bytes of holes, more than 16 MiB; the largest is 0x%08llX-0x%08llX: leave "
               "the bytes far away out with --crop or --exclude",
               what, static_cast<unsigned long long>(holes.total), static_cast<unsigned long long>(holes.largest.start),
               static_cast<unsigned long long>(holes.largest.end)));
}
