// What --compare finds: every byte of an expected image looked up in an
// actual one (a readback of the device, say) at the same address, the holes
// of the expected image left out; the differing and missing runs, the
// counts and the digests, and their text and JSON renderings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "load/job.h"
#include "model/element_view.h"
#include "util/error.h"

// A run of consecutive addresses whose bytes differ, or that the actual
// image does not hold.
struct CompareRun {
    uint32_t address = 0;
    uint64_t size = 0;
    bool missing = false;
    uint8_t expected = 0;  // the expected byte at `address`
    uint8_t found = 0;     // the actual byte there, when it is not missing
};

struct CompareReport {
    std::string expected_path;
    std::string actual_path;
    uint64_t expected_bytes = 0;   // the bytes the expected image holds, each address once
    uint64_t differing_bytes = 0;  // missing ones included
    uint64_t missing_bytes = 0;
    uint64_t run_count = 0;
    std::vector<CompareRun> runs;              // the first kListedRuns
    std::string expected_sha256;               // when asked for
    std::optional<std::string> actual_sha256;  // when asked for and the actual image holds every expected address

    static constexpr std::size_t kListedRuns = 20;
    bool Agree() const { return differing_bytes == 0; }
};

// The bytes of an image as a device holds them: runs in address order, none
// overlapping, where a later element's bytes replace an earlier one's.
std::vector<ElementSpan> Flatten(const std::vector<ElementSpan>& elements);

// Compares the flattened `expected` with the flattened `actual`; with
// `digests`, the SHA-256 of both sides' bytes too.
CompareReport CompareSpans(const std::vector<ElementSpan>& expected, const std::vector<ElementSpan>& actual,
                           bool digests);

// Loads both inputs (a DfuSe input: the target that `alternate` chooses, or
// its only one) and compares them; false with the error when an input
// cannot be loaded.
bool CompareFiles(const InputFile& expected, const InputFile& actual, std::optional<uint8_t> alternate, bool digests,
                  CompareReport& report, Error& error);

// The text of the report: a line per listed run, the count of the others,
// and the totals; every line ends in "\n".
std::string CompareText(const CompareReport& report);
std::string CompareJson(const CompareReport& report);
