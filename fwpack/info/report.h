// What --info finds in a file, computed once: the problem, the targets and
// their elements, the warnings, the check against memory layouts with the
// pages each element erases, and on request the digests. The text and the
// JSON renderings read only this report.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dfuse/dfu_parser.h"
#include "formats/uf2_reader.h"
#include "layout/layout_check.h"
#include "layout/usage.h"
#include "load/job.h"
#include "model/byte_store.h"
#include "model/element_view.h"
#include "stage/stage_job.h"
#include "util/error.h"

struct ReportTarget {
    uint8_t alternate = 0;
    bool named = false;
    std::string name;
    std::vector<ElementSpan> elements;  // in file order
    // Of a DfuSe target: its fields as the file gives them.
    uint32_t element_count = 0;
    uint32_t target_size = 0;
    bool complete = false;
};

// An element's pages, for a target whose alternate setting has a layout.
struct ElementPages {
    std::size_t element;
    layout::Erasure erasure;
};

// How a target fared against the layout of its alternate setting.
struct LayoutVerdict {
    uint8_t alternate = 0;
    const layout::MemoryLayout* layout = nullptr;  // null: its alternate setting has none
    std::string violation;                         // empty when every byte may be written
    std::vector<ElementPages> pages;               // of each element that lies in the layout
    layout::LayoutUsage usage;                     // what the target does to the layout's pages
};

struct ElementDigest {
    uint32_t crc32 = 0;
    std::array<uint8_t, 32> sha256;
};

struct InfoReport {
    InputFile input;
    std::optional<DfuFileInfo> dfu;  // for a DfuSe or plain DFU file, as far as it could be read
    std::optional<Uf2FileInfo> uf2;  // for a UF2 file, as far as it could be read
    // Whether an image could be made of the file; without one there are no
    // targets and no digests.
    bool loaded = false;
    std::vector<ReportTarget> targets;
    std::vector<std::string> warnings;  // each without its "warning: "
    bool layouts_given = false;
    std::vector<LayoutVerdict> verdicts;  // one per target, when layouts are given
    // The first problem, of the file or of the layout check; none (kNone and
    // not unloadable) for a sound file.
    Error problem;
    bool sound = true;
    // When asked for: per target, per element; then of all bytes in file order.
    std::vector<std::vector<ElementDigest>> digests;
    std::string sha256;
    // Whether the image stage made the image listed, and the values it wrote.
    bool staged = false;
    std::vector<InsertedValue> inserted;

    // What the elements point into, kept for as long as the report lives.
    std::shared_ptr<const SharedBytes> bytes;
    std::unique_ptr<class CImage> image;

    InfoReport();
    ~InfoReport();
    InfoReport(InfoReport&&) noexcept;
    InfoReport& operator=(InfoReport&&) noexcept;
};

// "Internal Flash: 401408 of 1048576 bytes (38.3 %), 5 of 12 pages erased":
// the use of a verdict's layout, named by the layout (or, without a name, by
// its alternate setting).
std::string UsageLine(const LayoutVerdict& verdict);

// The report of images made in this run (a conversion's, as written), for
// the picture of its memory: the targets and the layout check only. The
// images must outlive the report.
InfoReport ReportOfImages(const std::string& name, const std::vector<std::unique_ptr<class CImage>>& images,
                          const std::map<uint8_t, layout::MemoryLayout>& layouts);

// Reads and checks `input`, against the layouts of its alternate settings
// when there are any; with `digests`, the CRC-32 and SHA-256 of each element
// and the SHA-256 of all bytes. With a `stage` that changes anything, the
// image listed and checked is the one the stage makes of the file's (a DfuSe
// file's one target).
InfoReport MakeReport(const InputFile& input, const std::map<uint8_t, layout::MemoryLayout>& layouts, bool digests,
                      const StageJob* stage = nullptr);
