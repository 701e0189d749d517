// The UF2 reader: one pass over the blocks checks every field, their numbers
// within each family's runs and the families; then the payloads are put in
// address order and merged, where a byte given twice must agree.
#include "formats/uf2_reader.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "formats/uf2_format.h"
#include "util/text_format.h"

using namespace uf2_format;

namespace {

struct Payload {
    uint32_t address;
    uint32_t size;
    const uint8_t* data;
    uint64_t block;
};

// Where a family's blocks stand: each run of them numbers its blocks from 0
// to the count less one, with one count throughout.
struct Numbering {
    uint32_t next = 0;
    uint32_t count = 0;
};

unsigned long long Ull(uint64_t value) { return value; }

class Reader {
public:
    Reader(const uint8_t* data, std::size_t size, std::optional<uint32_t> family)
        : data_(data), size_(size), wanted_(family) {
        info_.file_size = size;
    }

    Uf2FileInfo Run(ElementList& list) {
        if (size_ % kBlockSize != 0) {
            return Fail(Format("the file has %llu bytes, not a whole number of 512-byte blocks", Ull(size_)));
        }
        info_.blocks = size_ / kBlockSize;
        for (uint64_t b = 0; b < info_.blocks; ++b) {
            if (!ReadBlock(b)) return std::move(info_);
        }
        for (const auto& [id, numbering] : numbering_) {
            if (numbering.next != numbering.count) {
                return Fail(Format("the blocks of family %s end after %lu of the %lu blocks that their count gives",
                                   FamilyText(id).c_str(), static_cast<unsigned long>(numbering.next),
                                   static_cast<unsigned long>(numbering.count)));
            }
        }
        if (!ChooseFamily()) return std::move(info_);
        Merge(list);
        return std::move(info_);
    }

private:
    Uf2FileInfo&& Fail(std::string problem) {
        info_.problem = std::move(problem);
        return std::move(info_);
    }

    bool Problem(uint64_t block, const std::string& text) {
        info_.problem = Format("block %llu: ", Ull(block)) + text;
        return false;
    }

    bool ReadBlock(uint64_t b) {
        const uint8_t* block = data_ + b * kBlockSize;
        const std::pair<std::size_t, uint32_t> magics[] = {
            {kMagic0Offset, kStartMagic0}, {kMagic1Offset, kStartMagic1}, {kEndMagicOffset, kEndMagic}};
        for (const auto& [offset, magic] : magics) {
            const uint32_t found = LoadLe32(block + offset);
            if (found != magic) {
                return Problem(b, Format("the %s magic is 0x%08X, not 0x%08X",
                                         offset == kEndMagicOffset ? "end"
                                         : offset == 0             ? "first start"
                                                                   : "second start",
                                         unsigned{found}, unsigned{magic}));
            }
        }
        const uint32_t flags = LoadLe32(block + kFlagsOffset);
        const uint32_t address = LoadLe32(block + kAddressOffset);
        const uint32_t size = LoadLe32(block + kPayloadSizeOffset);
        const uint32_t number = LoadLe32(block + kBlockNumberOffset);
        const uint32_t count = LoadLe32(block + kBlockCountOffset);
        std::optional<uint32_t> family;
        if (flags & kFamilyPresent) family = LoadLe32(block + kFamilyOffset);
        if (size > kDataSize) {
            return Problem(b, Format("its payload size is %lu, more than the 476 data bytes of a block",
                                     static_cast<unsigned long>(size)));
        }
        Numbering& numbering = numbering_[family];
        if (numbering.next == numbering.count) {
            if (number != 0 || count == 0) {
                return Problem(b, Format("its block number is %lu of %lu, but a run of blocks of family %s starts "
                                         "at block number 0 of 1 or more",
                                         static_cast<unsigned long>(number), static_cast<unsigned long>(count),
                                         FamilyText(family).c_str()));
            }
            numbering = Numbering{0, count};
        } else if (number != numbering.next || count != numbering.count) {
            return Problem(b, Format("its block number is %lu of %lu, but %lu of %lu comes next in family %s",
                                     static_cast<unsigned long>(number), static_cast<unsigned long>(count),
                                     static_cast<unsigned long>(numbering.next),
                                     static_cast<unsigned long>(numbering.count), FamilyText(family).c_str()));
        }
        ++numbering.next;
        if (flags & (kNotMainFlash | kFileContainer)) {
            ++info_.skipped;
            return true;
        }
        if (uint64_t{address} + size > uint64_t{1} << 32) {
            return Problem(b, Format("its %lu bytes at 0x%08X run past address 0xFFFFFFFF",
                                     static_cast<unsigned long>(size), unsigned{address}));
        }
        auto known = std::find_if(info_.families.begin(), info_.families.end(),
                                  [&](const Uf2Family& f) { return f.id == family; });
        if (known == info_.families.end()) known = info_.families.insert(known, Uf2Family{family, 0});
        ++known->blocks;
        if (wanted_ && family != wanted_) return true;
        if (size > 0) payloads_.push_back({address, size, block + kDataOffset, b});
        return true;
    }

    bool ChooseFamily() {
        std::string all;
        for (const Uf2Family& f : info_.families) all += (all.empty() ? "" : ", ") + FamilyText(f.id);
        if (wanted_) {
            const bool found = std::any_of(info_.families.begin(), info_.families.end(),
                                           [&](const Uf2Family& f) { return f.id == wanted_; });
            if (!found) {
                info_.problem = Format("no block of family 0x%08X (the file holds %s)", unsigned{*wanted_},
                                       all.empty() ? "no block for main flash" : ("family " + all).c_str());
            }
            return found;
        }
        if (info_.families.size() > 1) {
            info_.problem = Format("the file holds blocks of %llu families (%s): choose one with --family ID",
                                   Ull(info_.families.size()), all.c_str());
            return false;
        }
        return true;
    }

    void Merge(ElementList& list) {
        const auto by_address = [](const Payload& a, const Payload& b) { return a.address < b.address; };
        if (!std::is_sorted(payloads_.begin(), payloads_.end(), by_address)) {
            std::stable_sort(payloads_.begin(), payloads_.end(), by_address);
        }
        // Sorted by address, the bytes added so far end at `reach` in the last
        // element, which a payload that starts below `reach` overlaps.
        uint64_t reach = 0;
        for (const Payload& p : payloads_) {
            uint32_t skip = 0;
            if (list.GetCount() > 0 && p.address < reach) {
                const ImageElement& last = *list.GetAt(list.GetCount() - 1);
                skip = static_cast<uint32_t>(std::min<uint64_t>(reach - p.address, p.size));
                const uint8_t* held = last.data + (p.address - last.address);
                if (std::memcmp(held, p.data, skip) != 0) {
                    uint32_t i = 0;
                    while (held[i] == p.data[i]) ++i;
                    info_.problem =
                        Format("block %llu: its byte at 0x%08X is 0x%02X, but another block gives 0x%02X", Ull(p.block),
                               unsigned{p.address + i}, unsigned{p.data[i]}, unsigned{held[i]});
                    // The bytes of a file that is not sound are no image.
                    list.Reset();
                    return;
                }
            }
            if (skip < p.size) list.AddData(p.address + skip, p.data + skip, p.size - skip);
            reach = std::max<uint64_t>(reach, uint64_t{p.address} + p.size);
        }
    }

    const uint8_t* data_;
    std::size_t size_;
    std::optional<uint32_t> wanted_;
    Uf2FileInfo info_;
    std::map<std::optional<uint32_t>, Numbering> numbering_;
    std::vector<Payload> payloads_;
};

}  // namespace

std::string FamilyText(const std::optional<uint32_t>& family) {
    return family ? Format("0x%08X", unsigned{*family}) : std::string("none");
}

Uf2FileInfo ReadUf2(const uint8_t* data, std::size_t size, std::optional<uint32_t> family, ElementList& list) {
    if (data == nullptr) size = 0;
    return Reader(data, size, family).Run(list);
}
