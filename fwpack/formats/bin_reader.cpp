// Reads a raw binary file into an element list: its bytes, in order, from a
// load address that the caller gives, since the file itself carries none.
#include <vector>

#include "formats/bin_reader.h"
#include "formats/field_scanner.h"

BinRead ReadBinFile(const char* path, uint32_t base, ElementList& list) {
    const FilePtr file = OpenForReading(path);
    return file ? ReadBin(file.get(), base, list) : BinRead::kUnreadable;
}

BinRead ReadBin(std::FILE* file, uint32_t base, ElementList& list) {
    constexpr std::size_t kChunkSize = 1 << 20;
    std::vector<uint8_t> chunk(kChunkSize);
    uint64_t address = base;
    for (;;) {
        const std::size_t count = std::fread(chunk.data(), 1, chunk.size(), file);
        if (count == 0) return std::ferror(file) == 0 ? BinRead::kRead : BinRead::kUnreadable;
        // The last byte must still have an address.
        if (address + count > (uint64_t{1} << 32)) return BinRead::kPastTheTop;
        // From address 0 the address space holds 4 GiB, an element one byte less.
        if (address - base + count > 0xFFFFFFFFu) return BinRead::kTooLarge;
        list.AddData(static_cast<uint32_t>(address), chunk.data(), static_cast<uint32_t>(count));
        address += count;
    }
}
