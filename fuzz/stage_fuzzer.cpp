// Feeds the image stage random images and random option values: ranges,
// offsets, fills, alignments, page layouts and insertions. It must never
// crash, and what it makes must hold every byte of the image that no crop or
// exclude dropped, moved by the offset and unchanged, with no inserted value
// over such a byte. Build with -DFWPACK_FUZZ=ON and clang.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "stage/stage.h"

namespace {

// The fuzzer's bytes, taken from the front; zeros once they run out.
class Bytes {
public:
    Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint32_t Take(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 8 | (at_ < size_ ? data_[at_++] : 0);
        return value;
    }
    bool Empty() const { return at_ >= size_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Addresses near the bottom, the middle or the top of the address space, so
// that ranges, offsets and fields meet the elements and the edges.
uint64_t Address(Bytes& in) {
    const uint32_t bases[] = {0, 0x08000000, 0xFFFF0000, 0x7FFFF000};
    return bases[in.Take(1) % 4] + in.Take(2);
}

AddressRange Range(Bytes& in) {
    const uint64_t start = Address(in);
    const uint64_t end = std::min<uint64_t>(start + 1 + in.Take(2), uint64_t{1} << 32);
    return {start, std::max(end, start + 1)};
}

bool InAny(const std::vector<AddressRange>& ranges, uint64_t address) {
    for (const AddressRange& r : ranges) {
        if (r.Holds(address)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    // The image: elements apart from each other, in any order.
    std::vector<std::vector<uint8_t>> contents;
    ElementList list;
    std::map<uint64_t, uint8_t> image;
    for (unsigned n = in.Take(1) % 6; n > 0; --n) {
        const uint64_t address = Address(in);
        const uint32_t length = std::min<uint64_t>(1 + in.Take(1) * 3, (uint64_t{1} << 32) - address);
        bool apart = true;
        for (uint64_t a = address; a < address + length && apart; ++a) apart = image.count(a) == 0;
        if (!apart) continue;
        std::vector<uint8_t>& bytes = contents.emplace_back(length);
        for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(in.Take(1) ^ i);
        for (uint32_t i = 0; i < length; ++i) image[address + i] = bytes[i];
        list.InsertAt(list.GetCount(), ImageElement{static_cast<uint32_t>(address), length, bytes.data()});
    }
    StageJob job;
    while (!in.Empty()) {
        switch (in.Take(1) % 10) {
            case 0: job.crops.push_back(Range(in)); break;
            case 1: job.excludes.push_back(Range(in)); break;
            case 2: job.offset = static_cast<int32_t>(in.Take(4)); break;
            case 3: job.fills.push_back(Range(in)); break;
            case 4: job.fill_all = true; break;
            case 5: job.align = 2u << (in.Take(1) % 20); break;
            case 6: {
                layout::MemoryLayout memory;
                memory.segments.push_back({static_cast<uint32_t>(Address(in) & ~uint64_t{0xFF}),
                                           0x100u << (in.Take(1) % 4), 1 + in.Take(1), 7});
                if (memory.segments.back().End() <= uint64_t{1} << 32) {
                    job.layouts[0] = memory;
                    job.pad_pages = true;
                }
                break;
            }
            default: {
                Insertion insertion;
                insertion.kind = static_cast<InsertKind>(in.Take(1) % 3);
                insertion.big_endian = in.Take(1) & 1;
                insertion.address = static_cast<uint32_t>(std::min<uint64_t>(Address(in), 0xFFFFFFFC));
                if (in.Take(1) & 1) insertion.range = Range(in);
                insertion.option = "--field";
                job.insertions.push_back(insertion);
            }
        }
    }
    job.offset_shown = "N";
    StagedList staged;
    Error error;
    if (!RunStage(list, job, 0, "fuzz", staged, error)) {
        if (error.cause.empty()) __builtin_trap();
        return 0;
    }
    // Elements in address order, apart, inside the address space.
    const ImageElement* previous = nullptr;
    for (const ImageElement& e : *staged.list) {
        if (e.size == 0 || uint64_t{e.address} + e.size > uint64_t{1} << 32) __builtin_trap();
        if (previous && uint64_t{previous->address} + previous->size > e.address) __builtin_trap();
        previous = &e;
    }
    const auto byte_at = [&](uint64_t address) -> int {
        const auto it = std::upper_bound(staged.list->begin(), staged.list->end(), address,
                                         [](uint64_t a, const ImageElement& e) { return a < e.address; });
        if (it == staged.list->begin()) return -1;
        const ImageElement& e = *std::prev(it);
        return address < uint64_t{e.address} + e.size ? e.data[address - e.address] : -1;
    };
    std::map<uint64_t, uint8_t> kept;
    for (const auto& [address, byte] : image) {
        if ((job.crops.empty() || InAny(job.crops, address)) && !InAny(job.excludes, address)) {
            const uint64_t moved = address + static_cast<uint64_t>(job.offset);
            kept[moved] = byte;
            if (byte_at(moved) != byte) __builtin_trap();
        }
    }
    for (const InsertedValue& value : staged.inserted) {
        for (uint64_t a = value.address; a < uint64_t{value.address} + 4; ++a) {
            if (kept.count(a) != 0) __builtin_trap();
        }
    }
    return 0;
}
