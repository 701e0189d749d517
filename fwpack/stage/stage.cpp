// The image stage, on a flat list of pieces in address order: each piece a
// run of an input's bytes, of pad bytes or of an inserted field, and the
// number of the element it belongs to. Steps build new lists of pieces;
// bytes are copied once, into the list that the stage hands back.
#include "stage/stage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

#include "dfuse/dfu_format.h"
#include "model/holes.h"
#include "stage/hole_limit.h"
#include "stage/overlap.h"
#include "util/text_format.h"

namespace {

constexpr uint64_t kTop = uint64_t{1} << 32;

enum class Source : uint8_t { kInput, kPad, kField };

struct Piece {
    uint64_t address;
    uint64_t size;
    const uint8_t* data;  // null for pad bytes
    uint32_t element;     // contiguous pieces of one number are one element
    Source source;

    uint64_t End() const { return address + size; }
};
using Pieces = std::vector<Piece>;

unsigned long long Ull(uint64_t value) { return static_cast<unsigned long long>(value); }

// Sorted by start, neighbours that touch or overlap joined.
std::vector<AddressRange> Merged(std::vector<AddressRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; });
    std::vector<AddressRange> merged;
    for (const AddressRange& range : ranges) {
        if (!merged.empty() && range.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, range.end);
        else
            merged.push_back(range);
    }
    return merged;
}

// The parts of `piece` from `start` to `end`.
Piece Cut(const Piece& piece, uint64_t start, uint64_t end) {
    Piece part = piece;
    part.address = start;
    part.size = end - start;
    if (piece.data) part.data = piece.data + (start - piece.address);
    return part;
}

// The parts of the pieces inside `ranges` (merged).
Pieces Keep(const Pieces& pieces, const std::vector<AddressRange>& ranges) {
    Pieces kept;
    kept.reserve(pieces.size());
    std::size_t first = 0;
    for (const Piece& piece : pieces) {
        while (first < ranges.size() && ranges[first].end <= piece.address) ++first;
        for (std::size_t r = first; r < ranges.size() && ranges[r].start < piece.End(); ++r) {
            kept.push_back(Cut(piece, std::max(piece.address, ranges[r].start), std::min(piece.End(), ranges[r].end)));
        }
    }
    return kept;
}

// Everything from 0 to the top outside `ranges` (merged).
std::vector<AddressRange> Complement(const std::vector<AddressRange>& ranges) {
    std::vector<AddressRange> outside;
    uint64_t from = 0;
    for (const AddressRange& range : ranges) {
        if (range.start > from) outside.push_back({from, range.start});
        from = range.end;
    }
    if (from < kTop) outside.push_back({from, kTop});
    return outside;
}

// Gives a piece the element number of the piece before it when it
// continues its element, or when `join` says the two become one.
template <typename Join>
void Renumber(Pieces& pieces, Join join) {
    if (pieces.empty()) return;
    uint32_t previous_old = pieces.front().element;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const uint32_t old = pieces[i].element;
        const bool touches = pieces[i].address == pieces[i - 1].End();
        if (touches && (old == previous_old || join(pieces[i - 1], pieces[i])))
            pieces[i].element = pieces[i - 1].element;
        previous_old = old;
    }
}

// CRC-32/MPEG-2, the register shifted to the left, a byte at a time.
struct Mpeg2Table {
    std::array<uint32_t, 256> entries{};
    Mpeg2Table() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i << 24;
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            entries[i] = crc;
        }
    }
};
const Mpeg2Table kMpeg2;

inline uint32_t Mpeg2Byte(uint32_t crc, uint8_t byte) { return (crc << 8) ^ kMpeg2.entries[(crc >> 24) ^ byte]; }

// A value over bytes in ascending address order: CRC-32, CRC-32/MPEG-2 of
// 32-bit little-endian words, or the span.
class Accumulator {
public:
    Accumulator(InsertKind kind, uint8_t pad) : kind_(kind) { pad_.fill(pad); }

    void Add(uint64_t address, const uint8_t* data, uint64_t size) {
        if (size == 0) return;
        lowest_ = std::min(lowest_, address);
        highest_ = std::max(highest_, address + size);
        fed_ += size;
        switch (kind_) {
            case InsertKind::kLength: return;
            case InsertKind::kCrc32:
                for (uint64_t done = 0; done < size;) {
                    const std::size_t step = static_cast<std::size_t>(std::min<uint64_t>(size - done, 1u << 30));
                    crc_ = dfu_format::Crc32(crc_, data + done, step);
                    done += step;
                }
                return;
            case InsertKind::kCrc32Mpeg2:
                for (uint64_t k = 0; k < size; ++k) {
                    word_[have_++] = data[k];
                    if (have_ == 4) {
                        for (int b = 3; b >= 0; --b) crc_ = Mpeg2Byte(crc_, word_[b]);
                        have_ = 0;
                    }
                }
                return;
        }
    }
    void AddPad(uint64_t address, uint64_t size) {
        for (uint64_t done = 0; done < size;) {
            const uint64_t step = std::min<uint64_t>(size - done, pad_.size());
            Add(address + done, pad_.data(), step);
            done += step;
        }
    }
    void Start() { crc_ = kind_ == InsertKind::kCrc32Mpeg2 ? 0xFFFFFFFFu : 0; }
    uint32_t Crc() const { return crc_; }
    uint64_t Fed() const { return fed_; }
    uint64_t Lowest() const { return lowest_; }
    uint64_t Highest() const { return highest_; }

private:
    InsertKind kind_;
    uint32_t crc_ = 0;
    std::array<uint8_t, 4> word_{};
    int have_ = 0;
    uint64_t fed_ = 0;
    uint64_t lowest_ = UINT64_MAX;
    uint64_t highest_ = 0;
    std::array<uint8_t, 4096> pad_;  // pad bytes to feed from
};

class Stage {
public:
    Stage(const StageJob& job, const std::string& path, Error& error) : job_(job), path_(path), error_(error) {}

    bool Run(const ElementList& list, uint8_t alternate, StagedList& staged) {
        if (job_.pad_pages) {
            for (const auto& [setting, memory] : job_.layouts) {
                if (job_.pages_of_every_layout || setting == alternate) page_layouts_.push_back(&memory);
            }
            if (page_layouts_.empty()) {
                return Fail(
                    Format("--pad-pages grows each element to the pages it touches, but alternate setting %u "
                           "has no layout: give it with --layout",
                           unsigned{alternate}));
            }
        }
        if (!Load(list)) return false;
        if (!job_.crops.empty()) pieces_ = Keep(pieces_, Merged(job_.crops));
        if (!job_.excludes.empty()) pieces_ = Keep(pieces_, Complement(Merged(job_.excludes)));
        if (job_.offset != 0 && !Offset()) return false;
        if ((job_.fill_all || !job_.fills.empty()) && !Fill()) return false;
        if (job_.align != 0) {
            const uint64_t mask = job_.align - 1;
            Grow([mask](uint64_t start) { return start & ~mask; },
                 [mask](uint64_t end) { return (end + mask) & ~mask; });
        }
        if (job_.pad_pages)
            Grow([this](uint64_t start) { return PageStart(start); }, [this](uint64_t end) { return PageEnd(end); });
        for (const Insertion& insertion : job_.insertions) {
            if (!Insert(insertion, staged.inserted)) return false;
        }
        staged.list = Materialise();
        return true;
    }

private:
    uint32_t NewElement() { return next_element_++; }

    bool Fail(std::string cause) {
        error_ = Error::Problem("", std::move(cause));
        return false;
    }

    // The elements as pieces in address order; elements that overlap become one.
    bool Load(const ElementList& list) {
        std::vector<OwnedRun> runs;
        runs.reserve(static_cast<std::size_t>(list.GetCount()));
        bool sorted = true;
        bool apart = true;
        uint64_t reach = 0;
        for (const ImageElement& e : list) {
            if (e.size == 0) continue;
            if (HasAddressableBytes(e) == false) {
                return Fail(
                    Format("%s: the element at 0x%08X of %lu bytes runs past address 0xFFFFFFFF, where the "
                           "image options reach no byte",
                           path_.c_str(), unsigned{e.address}, static_cast<unsigned long>(e.size)));
            }
            if (!runs.empty()) {
                sorted = sorted && e.address >= runs.back().address;
                apart = apart && e.address >= reach;
            }
            reach = std::max(reach, uint64_t{e.address} + e.size);
            runs.push_back({e.address, e.size, e.data, 0});
        }
        std::vector<SettledRun> settled;
        if (sorted && apart) {
            settled.reserve(runs.size());
            for (const OwnedRun& run : runs) settled.push_back({run.address, run.size, run.data});
        } else {
            // A device keeps the bytes of the later of two elements.
            ByteConflict ignored;
            SettleOverlaps(runs, false, settled, storage_, ignored);
        }
        pieces_.reserve(settled.size());
        for (const SettledRun& run : settled) {
            pieces_.push_back({run.address, run.size, run.data, NewElement(), Source::kInput});
        }
        return true;
    }

    bool Offset() {
        if (pieces_.empty()) return true;
        const int64_t offset = job_.offset;
        if (offset < 0) {
            const uint64_t down = static_cast<uint64_t>(-offset);
            if (pieces_.front().address < down) {
                return Fail(Format("--offset %s would move the byte at 0x%08llX below address 0",
                                   job_.offset_shown.c_str(), Ull(pieces_.front().address)));
            }
            for (Piece& piece : pieces_) piece.address -= down;
        } else {
            const uint64_t up = static_cast<uint64_t>(offset);
            for (const Piece& piece : pieces_) {
                if (piece.End() + up > kTop) {
                    return Fail(Format("--offset %s would move the byte at 0x%08llX past address 0xFFFFFFFF",
                                       job_.offset_shown.c_str(), Ull(std::max(piece.address, kTop - up))));
                }
            }
            for (Piece& piece : pieces_) piece.address += up;
        }
        return true;
    }

    bool Fill() {
        if (pieces_.empty() && job_.fills.empty()) return true;
        std::vector<AddressRange> ranges;
        if (job_.fill_all && !pieces_.empty()) {
            HoleSummary holes;
            holes.span = {pieces_.front().address, pieces_.back().End()};
            for (std::size_t i = 1; i < pieces_.size(); ++i) {
                const AddressRange hole{pieces_[i - 1].End(), pieces_[i].address};
                holes.total += hole.Size();
                if (hole.Size() > holes.largest.Size()) holes.largest = hole;
            }
            if (auto limit = HoleLimitError(holes, path_, "--fill all")) {
                error_ = std::move(*limit);
                return false;
            }
            ranges = job_.fills;
            ranges.push_back(holes.span);
        } else {
            ranges = job_.fills;
        }
        ranges = Merged(std::move(ranges));
        Pieces filled;
        filled.reserve(pieces_.size() * 2 + ranges.size());
        std::size_t first = 0;
        const auto pad = [&](uint64_t from, uint64_t to) {
            while (first < ranges.size() && ranges[first].end <= from) ++first;
            for (std::size_t r = first; r < ranges.size() && ranges[r].start < to; ++r) {
                const uint64_t start = std::max(from, ranges[r].start);
                const uint64_t end = std::min(to, ranges[r].end);
                if (start < end) filled.push_back({start, end - start, nullptr, NewElement(), Source::kPad});
            }
        };
        uint64_t reach = 0;
        for (const Piece& piece : pieces_) {
            if (piece.address > reach) pad(reach, piece.address);
            filled.push_back(piece);
            reach = piece.End();
        }
        pad(reach, kTop);
        // What a fill makes one run of bytes is one element.
        Renumber(filled, [&](const Piece& before, const Piece& after) {
            if (before.source == Source::kPad || after.source == Source::kPad) return true;
            const auto range =
                std::upper_bound(ranges.begin(), ranges.end(), after.address,
                                 [](uint64_t address, const AddressRange& r) { return address < r.start; });
            return range != ranges.begin() && std::prev(range)->start < after.address &&
                   after.address < std::prev(range)->end;
        });
        pieces_ = std::move(filled);
        return true;
    }

    // Each element grows down to `lower(start)` and up to `upper(end)` with
    // pad bytes, never over another element's bytes; elements that come to
    // touch become one.
    template <typename Lower, typename Upper>
    void Grow(Lower lower, Upper upper) {
        struct Run {
            std::size_t begin, end;  // its pieces
            uint64_t start, stop;    // its bytes
        };
        std::vector<Run> runs;
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            if (i > 0 && pieces_[i].element == pieces_[i - 1].element && pieces_[i].address == pieces_[i - 1].End()) {
                runs.back().end = i + 1;
                runs.back().stop = pieces_[i].End();
            } else {
                runs.push_back({i, i + 1, pieces_[i].address, pieces_[i].End()});
            }
        }
        Pieces grown;
        grown.reserve(pieces_.size() + 2 * runs.size());
        uint32_t element = 0;
        bool joined = false;  // run k continues the element of run k - 1
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const Run& run = runs[k];
            if (!joined) {
                element = NewElement();
                const uint64_t low = std::max(lower(run.start), k > 0 ? runs[k - 1].stop : uint64_t{0});
                if (low < run.start) grown.push_back({low, run.start - low, nullptr, element, Source::kPad});
            }
            for (std::size_t i = run.begin; i < run.end; ++i) {
                grown.push_back(pieces_[i]);
                grown.back().element = element;
            }
            const uint64_t high = std::min(upper(run.stop), k + 1 < runs.size() ? runs[k + 1].start : kTop);
            joined = k + 1 < runs.size() && high >= std::max(lower(runs[k + 1].start), run.stop);
            const uint64_t pad_end = joined ? runs[k + 1].start : high;
            if (pad_end > run.stop) grown.push_back({run.stop, pad_end - run.stop, nullptr, element, Source::kPad});
        }
        pieces_ = std::move(grown);
    }

    const layout::Segment* SegmentAt(uint64_t address) const {
        if (address >= kTop) return nullptr;
        for (const layout::MemoryLayout* memory : page_layouts_) {
            if (const layout::Segment* segment = memory->SegmentAt(static_cast<uint32_t>(address))) return segment;
        }
        return nullptr;
    }
    uint64_t PageStart(uint64_t start) const {
        const layout::Segment* segment = SegmentAt(start);
        if (segment == nullptr || segment->page_size == 0) return start;
        return start - (start - segment->start) % segment->page_size;
    }
    uint64_t PageEnd(uint64_t end) const {
        const layout::Segment* segment = end == 0 ? nullptr : SegmentAt(end - 1);
        if (segment == nullptr || segment->page_size == 0) return end;
        const uint64_t into = (end - segment->start) % segment->page_size;
        return into == 0 ? end : end + (segment->page_size - into);
    }

    // Feeds the bytes of `range` but those of `skip`, in address order.
    template <typename Visit>
    void EachByteRun(const AddressRange& range, const AddressRange& skip, Visit visit) const {
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), range.start,
                                   [](uint64_t address, const Piece& p) { return address < p.End(); });
        for (; it != pieces_.end() && it->address < range.end; ++it) {
            const uint64_t start = std::max(it->address, range.start);
            const uint64_t end = std::min(it->End(), range.end);
            // At most two parts: before and after the skipped bytes.
            if (start < std::min(end, skip.start)) visit(Cut(*it, start, std::min(end, skip.start)));
            if (std::max(start, skip.end) < end) visit(Cut(*it, std::max(start, skip.end), end));
        }
    }

    // The first hole of `range` that neither the pieces nor `field` cover.
    std::optional<AddressRange> FirstHole(const AddressRange& range, const AddressRange& field) const {
        uint64_t reach = range.start;
        std::optional<AddressRange> hole;
        const auto covered = [&](uint64_t start, uint64_t end) {
            if (hole || end <= reach || start >= range.end) return;
            if (start > reach) hole = AddressRange{reach, std::min(start, range.end)};
            reach = std::max(reach, end);
        };
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), range.start,
                                   [](uint64_t address, const Piece& p) { return address < p.End(); });
        bool field_done = false;
        for (; it != pieces_.end() && it->address < range.end && !hole; ++it) {
            if (!field_done && field.start <= it->address) {
                covered(field.start, field.end);
                field_done = true;
            }
            covered(it->address, it->End());
        }
        if (!field_done) covered(field.start, field.end);
        if (!hole && reach < range.end) hole = AddressRange{reach, range.end};
        return hole;
    }

    bool Insert(const Insertion& insertion, std::vector<InsertedValue>& inserted) {
        const AddressRange field{insertion.address, uint64_t{insertion.address} + 4};
        const char* option = insertion.option.c_str();
        const std::string at = Format("%s 0x%08X", option, unsigned{insertion.address});
        auto first = std::upper_bound(pieces_.begin(), pieces_.end(), field.start,
                                      [](uint64_t address, const Piece& p) { return address < p.End(); });
        for (auto it = first; it != pieces_.end() && it->address < field.end; ++it) {
            if (it->source != Source::kPad) {
                return Fail(
                    Format("%s: the 4 bytes at 0x%08X would lie over the byte at 0x%08llX, which %s", at.c_str(),
                           unsigned{insertion.address}, Ull(std::max(it->address, field.start)),
                           it->source == Source::kInput ? "comes from an input" : "holds a value inserted before"));
            }
        }
        AddressRange range;
        if (insertion.range) {
            range = *insertion.range;
        } else if (!pieces_.empty()) {
            range = {pieces_.front().address, pieces_.back().End()};
        }
        Accumulator value(insertion.kind, job_.pad_byte);
        value.Start();
        if (insertion.kind == InsertKind::kCrc32Mpeg2 && range.Size() != 0) {
            if (range.start % 4 != 0 || range.Size() % 4 != 0) {
                return Fail(
                    Format("%s: the range 0x%08llX-0x%08llX is not whole 32-bit words (its start and its "
                           "length must be multiples of 4)",
                           at.c_str(), Ull(range.start), Ull(range.end)));
            }
            if (const auto hole = FirstHole(range, field)) {
                return Fail(
                    Format("%s: the range 0x%08llX-0x%08llX holds a hole at 0x%08llX-0x%08llX; a CRC over "
                           "words takes none: fill it (--fill)",
                           at.c_str(), Ull(range.start), Ull(range.end), Ull(hole->start), Ull(hole->end)));
            }
            if (field.start < range.end && range.start < field.end &&
                (field.start < range.start || field.end > range.end || (field.start - range.start) % 4 != 0)) {
                return Fail(
                    Format("%s: the 4 bytes at 0x%08X would split the words of the range "
                           "0x%08llX-0x%08llX",
                           at.c_str(), unsigned{insertion.address}, Ull(range.start), Ull(range.end)));
            }
        }
        EachByteRun(range, field, [&](const Piece& part) {
            if (part.data)
                value.Add(part.address, part.data, part.size);
            else
                value.AddPad(part.address, part.size);
        });
        uint32_t result = value.Crc();
        if (insertion.kind == InsertKind::kLength) {
            const uint64_t lowest = std::min(value.Lowest(), field.start);
            const uint64_t highest = std::max(value.Fed() ? value.Highest() : 0, field.end);
            if (highest - lowest > UINT32_MAX) {
                return Fail(Format("%s: the length 0x%llX does not fit in 4 bytes", at.c_str(), Ull(highest - lowest)));
            }
            result = static_cast<uint32_t>(highest - lowest);
        }
        std::array<uint8_t, 4>& bytes = fields_.emplace_back();
        for (int i = 0; i < 4; ++i) {
            const int shift = insertion.big_endian ? 24 - 8 * i : 8 * i;
            bytes[static_cast<std::size_t>(i)] = static_cast<uint8_t>(result >> shift);
        }
        inserted.push_back({insertion.option, insertion.address, result});

        // The field replaces the pad bytes under it, in their element, or
        // stands as an element of its own.
        Pieces placed;
        placed.reserve(pieces_.size() + 2);
        placed.insert(placed.end(), pieces_.begin(), first);
        uint32_t element = UINT32_MAX;
        bool field_placed = false;
        auto it = first;
        for (; it != pieces_.end() && it->address < field.end; ++it) {
            if (element == UINT32_MAX) element = it->element;
            if (it->address < field.start) placed.push_back(Cut(*it, it->address, field.start));
            if (it->End() > field.end) {
                placed.push_back({field.start, 4, bytes.data(), element, Source::kField});
                field_placed = true;
                placed.push_back(Cut(*it, field.end, it->End()));
            }
        }
        if (!field_placed) {
            placed.push_back(
                {field.start, 4, bytes.data(), element == UINT32_MAX ? NewElement() : element, Source::kField});
        }
        placed.insert(placed.end(), it, pieces_.end());
        pieces_ = std::move(placed);
        return true;
    }

    // The pieces as elements with bytes of their own, written straight into
    // the new list's store: each byte is copied once.
    std::unique_ptr<ElementList> Materialise() const {
        auto list = std::make_unique<ElementList>();
        for (std::size_t i = 0; i < pieces_.size();) {
            // The pieces of one element, cut where its size field would overflow.
            std::size_t j = i + 1;
            while (j < pieces_.size() && pieces_[j].element == pieces_[i].element &&
                   pieces_[j].address == pieces_[j - 1].End()) {
                ++j;
            }
            const uint64_t start = pieces_[i].address;
            const uint64_t end = pieces_[j - 1].End();
            for (uint64_t at = start; at < end;) {
                const auto size = static_cast<uint32_t>(std::min<uint64_t>(end - at, UINT32_MAX));
                uint8_t* room = list->AppendRoom(static_cast<uint32_t>(at), size);
                EachByteRun({at, at + size}, {0, 0}, [&](const Piece& part) {
                    uint8_t* to = room + (part.address - at);
                    if (part.data)
                        std::memcpy(to, part.data, static_cast<std::size_t>(part.size));
                    else
                        std::memset(to, job_.pad_byte, static_cast<std::size_t>(part.size));
                });
                at += size;
            }
            i = j;
        }
        list->Trim();
        return list;
    }

    const StageJob& job_;
    const std::string& path_;
    Error& error_;
    Pieces pieces_;
    std::vector<const layout::MemoryLayout*> page_layouts_;
    uint32_t next_element_ = 0;
    std::deque<std::vector<uint8_t>> storage_;
    std::deque<std::array<uint8_t, 4>> fields_;
};

}  // namespace

bool RunStage(const ElementList& list, const StageJob& job, uint8_t alternate, const std::string& path,
              StagedList& staged, Error& error) {
    StagedList result;
    if (!Stage(job, path, error).Run(list, alternate, result)) return false;
    staged = std::move(result);
    return true;
}

std::unique_ptr<CImage> StageImage(const CImage& image, const StageJob& job, const std::string& path,
                                   std::vector<InsertedValue>* inserted, Error& error) {
    StagedList staged;
    if (!RunStage(image.GetList(), job, image.GetAlternate(), path, staged, error)) return nullptr;
    if (inserted) *inserted = std::move(staged.inserted);
    char name[CImage::kMaxNameLength + 1] = {};
    const bool named = image.GetName(name);
    return std::make_unique<CImage>(image.GetAlternate(), named, name, std::move(staged.list));
}

uint32_t Crc32Mpeg2(uint32_t crc, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) crc = Mpeg2Byte(crc, data[i]);
    return crc;
}
