// Reads an ELF executable into an element list as a loader programs it: the
// file bytes of each loadable segment at its physical (load) address, so that
// initialised data lies at its place in flash, not in RAM. 32- and 64-bit
// files of either byte order; every offset and size is checked against the
// file before it is used.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/elf_reader.h"
#include "sys/platform.h"
#include "util/text_format.h"

namespace {

constexpr uint32_t kLoadSegment = 1;       // PT_LOAD
constexpr uint16_t kManyHeaders = 0xFFFF;  // the count lies elsewhere
// The most bytes an element holds: its size field has 32 bits.
constexpr uint64_t kMaxElementSize = 0xFFFFFFFFu;

// Where the fields this reader needs lie, for each class of file.
struct Layout {
    std::size_t header_size;
    std::size_t phoff_offset, phoff_width;
    std::size_t phentsize_offset, phnum_offset;
    std::size_t entry_size;
    std::size_t offset_offset, paddr_offset, filesz_offset, width;
};

constexpr Layout kElf32{52, 28, 4, 42, 44, 32, 4, 12, 16, 4};
constexpr Layout kElf64{64, 32, 8, 54, 56, 56, 8, 24, 32, 8};

struct Segment {
    std::size_t index;
    uint64_t offset;
    uint64_t address;
    uint64_t size;
};

unsigned long long Ull(uint64_t value) { return value; }

class ElfReader {
public:
    ElfReader(const uint8_t* data, std::size_t size) : data_(data), size_(size), file_size_(size) {}
    // Only the first `size` bytes of a file of `file_size` bytes at hand:
    // enough to check its headers, none of its segments' bytes.
    ElfReader(const uint8_t* data, std::size_t size, uint64_t file_size)
        : data_(data), size_(size), file_size_(file_size) {}

    // Without a list, only checks what the headers say.
    bool Read(ElementList* list, std::string& problem) {
        std::vector<Segment> segments;
        if (!ReadSegments(segments, problem)) return false;
        if (undecided_) return true;
        if (segments.empty()) {
            problem =
                "no loadable segment with bytes in the file: an object file that was not linked, or one "
                "without a program";
            return false;
        }
        std::stable_sort(segments.begin(), segments.end(),
                         [](const Segment& a, const Segment& b) { return a.address < b.address; });
        for (std::size_t i = 1; i < segments.size(); ++i) {
            const Segment& before = segments[i - 1];
            const Segment& after = segments[i];
            if (before.address + before.size > after.address) {
                problem = Format("segments %llu and %llu overlap at 0x%08llX", Ull(std::min(before.index, after.index)),
                                 Ull(std::max(before.index, after.index)), Ull(after.address));
                return false;
            }
        }
        if (!FitElements(segments, problem)) return false;
        if (!list) return true;
        // In address order, so that a segment that continues another merges
        // with it as records do.
        for (const Segment& segment : segments) {
            list->AddData(static_cast<uint32_t>(segment.address), data_ + segment.offset,
                          static_cast<uint32_t>(segment.size));
        }
        return true;
    }

private:
    bool ReadSegments(std::vector<Segment>& segments, std::string& problem) {
        if (size_ < 16 || std::memcmp(data_,
                                      "\x7F"
                                      "ELF",
                                      4) != 0) {
            problem = "not an ELF file: it does not begin with 0x7F \"ELF\"";
            return false;
        }
        if (data_[4] != 1 && data_[4] != 2) {
            problem = Format("unknown ELF class %u (1 is 32-bit, 2 is 64-bit)", unsigned{data_[4]});
            return false;
        }
        if (data_[5] != 1 && data_[5] != 2) {
            problem = Format("unknown ELF byte order %u (1 is little-endian, 2 is big-endian)", unsigned{data_[5]});
            return false;
        }
        layout_ = data_[4] == 1 ? &kElf32 : &kElf64;
        big_endian_ = data_[5] == 2;
        if (size_ < layout_->header_size) {
            problem = Format("the ELF header is cut off: the file has %llu of its %llu bytes", Ull(size_),
                             Ull(layout_->header_size));
            return false;
        }
        const uint64_t table = Field(layout_->phoff_offset, layout_->phoff_width);
        const uint64_t entry_size = Field(layout_->phentsize_offset, 2);
        const uint64_t count = Field(layout_->phnum_offset, 2);
        if (count == 0) return true;
        if (count == kManyHeaders) {
            problem = "the file has 65535 or more program headers, more than a firmware image holds";
            return false;
        }
        if (entry_size < layout_->entry_size) {
            problem = Format("program headers of %llu bytes, fewer than the %llu of this class of file",
                             Ull(entry_size), Ull(layout_->entry_size));
            return false;
        }
        // Each factor is at most 16 bits wide: the product cannot overflow.
        if (table > file_size_ || count * entry_size > file_size_ - table) {
            problem = Format(
                "the program header table (%llu entries of %llu bytes at offset %llu) runs past the "
                "end of the file (%llu bytes)",
                Ull(count), Ull(entry_size), Ull(table), Ull(file_size_));
            return false;
        }
        // Only where the headers alone are at hand, and the table lies beyond them.
        if (table > size_ || count * entry_size > size_ - table) {
            undecided_ = true;
            return true;
        }
        for (uint64_t i = 0; i < count; ++i) {
            const std::size_t header = static_cast<std::size_t>(table + i * entry_size);
            if (Field(header, 4) != kLoadSegment) continue;
            Segment segment{static_cast<std::size_t>(i), Field(header + layout_->offset_offset, layout_->width),
                            Field(header + layout_->paddr_offset, layout_->width),
                            Field(header + layout_->filesz_offset, layout_->width)};
            // Only the bytes in the file load; the rest of the memory size
            // (zeroed data) is the program's own business at start.
            if (segment.size == 0) continue;
            if (segment.offset > file_size_ || segment.size > file_size_ - segment.offset) {
                problem = Format("segment %llu (%llu bytes at offset %llu) runs past the end of the file (%llu bytes)",
                                 Ull(i), Ull(segment.size), Ull(segment.offset), Ull(file_size_));
                return false;
            }
            if (segment.address > 0xFFFFFFFFu || segment.size > (uint64_t{1} << 32) - segment.address) {
                problem = Format("segment %llu (%llu bytes at 0x%08llX) runs past address 0xFFFFFFFF", Ull(i),
                                 Ull(segment.size), Ull(segment.address));
                return false;
            }
            segments.push_back(segment);
        }
        return true;
    }

    // Segments (in address order) that continue one another become one
    // element, whose size must fit its 32-bit field: 4 GiB from address 0
    // would otherwise become an element of 0 bytes.
    static bool FitElements(const std::vector<Segment>& segments, std::string& problem) {
        std::size_t first = 0;
        uint64_t run = 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const bool continues = i > 0 && segments[i - 1].address + segments[i - 1].size == segments[i].address;
            if (!continues) first = i;
            run = continues ? run + segments[i].size : segments[i].size;
            if (run <= kMaxElementSize) continue;
            if (first == i) {
                problem = Format("segment %llu of %llu bytes is larger than an element can hold (at most %llu bytes)",
                                 Ull(segments[i].index), Ull(run), Ull(kMaxElementSize));
            } else {
                problem = Format(
                    "segments %llu to %llu load %llu bytes in a row, more than an element can hold (at most %llu "
                    "bytes)",
                    Ull(segments[first].index), Ull(segments[i].index), Ull(run), Ull(kMaxElementSize));
            }
            return false;
        }
        return true;
    }

    // The unsigned field of `width` bytes at `offset`, in the file's byte order.
    uint64_t Field(std::size_t offset, std::size_t width) const {
        uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const uint8_t byte = data_[offset + (big_endian_ ? i : width - 1 - i)];
            value = (value << 8) | byte;
        }
        return value;
    }

    const uint8_t* data_;
    std::size_t size_;
    uint64_t file_size_;
    const Layout* layout_ = nullptr;
    bool big_endian_ = false;
    // The program header table lies beyond the bytes at hand.
    bool undecided_ = false;
};

}  // namespace

bool ParseElf(const uint8_t* data, std::size_t size, ElementList& list, std::string& problem) {
    return ElfReader(data, data ? size : 0).Read(&list, problem);
}

bool ElfHeadersFit(const std::string& path, uint64_t file_size, std::string& problem) {
    // The program header table follows the ELF header in every linker's
    // output; one that lies further on is checked once the file is read.
    constexpr std::size_t kHeadRoom = 64 * 1024;
    const FilePtr file = platform::OpenFile(path.c_str(), "rb");
    if (!file) return true;
    std::vector<uint8_t> head(static_cast<std::size_t>(std::min<uint64_t>(file_size, kHeadRoom)));
    head.resize(std::fread(head.data(), 1, head.size(), file.get()));
    ElfReader reader(head.data(), head.size(), file_size);
    std::string found;
    // Only a file that the headers alone condemn is refused here; any other
    // verdict waits for the whole file, whose reading says the same or more.
    if (head.size() != std::min<uint64_t>(file_size, kHeadRoom) || reader.Read(nullptr, found)) return true;
    problem = found;
    return false;
}
