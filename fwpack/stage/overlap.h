// Bytes that several inputs give one address: found and settled by the
// rule of the run (a later input's byte wins, or both must agree), for the
// merge of a target's inputs and for an image whose elements overlap.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "model/element_list.h"
#include "stage/stage_job.h"

// A run of bytes of one owner (an input); of two runs that share a byte, the
// one later in the list wins.
struct OwnedRun {
    uint64_t address;
    uint32_t size;
    const uint8_t* data;
    uint32_t owner;
};

// A run of the settled image, in address order, none over another.
struct SettledRun {
    uint64_t address;
    uint64_t size;
    const uint8_t* data;
};

// A byte that two owners give different values.
struct ByteConflict {
    uint64_t address = 0;
    uint32_t first_owner = 0;  // the lower owner number
    uint32_t second_owner = 0;
    uint8_t first = 0;  // the value of each
    uint8_t second = 0;
};

// Settles `runs`: runs that share no byte stay as they are; runs that share
// bytes become one run over all of them, whose bytes lie in `storage`. With
// `identical`, two owners (never one owner with itself) must give a shared
// byte the same value: false with the lowest byte where they differ.
bool SettleOverlaps(const std::vector<OwnedRun>& runs, bool identical, std::vector<SettledRun>& settled,
                    std::deque<std::vector<uint8_t>>& storage, ByteConflict& conflict);

// Merges the inputs of one target by `mode` (not kRefuse) into one list in
// address order: an element that shares no byte with another stays as it
// is; elements that share bytes become one. Null with the conflict when
// identical inputs differ.
std::unique_ptr<ElementList> MergeOverlapping(std::vector<std::unique_ptr<ElementList>>& inputs, OverlapMode mode,
                                              ByteConflict& conflict);
