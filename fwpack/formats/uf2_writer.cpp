// The UF2 writer: the pages are counted first, since every block carries the
// number of blocks, then each page is gathered and written as one block.
#include "formats/uf2_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "formats/byte_runs.h"
#include "formats/uf2_format.h"
#include "sys/output_file.h"

using namespace uf2_format;

namespace {

uint32_t PageOf(uint64_t address) { return static_cast<uint32_t>(address / kPayloadSize); }

uint32_t CountPages(const std::vector<ByteRun>& runs) {
    uint32_t count = 0;
    uint64_t last = UINT64_MAX;  // the page counted last
    for (const ByteRun& run : runs) {
        const uint32_t first = PageOf(run.address);
        const uint32_t end = PageOf(uint64_t{run.address} + run.size - 1);
        count += end - first + (first == last ? 0 : 1);
        last = end;
    }
    return count;
}

}  // namespace

bool WriteUf2(TextOutput& output, const ElementList& list, uint8_t pad, std::optional<uint32_t> family) {
    if (!output.IsOpen()) return false;
    const std::vector<ByteRun> runs = ByteRuns(list);
    const uint32_t count = CountPages(runs);

    std::array<uint8_t, kBlockSize> block{};
    StoreLe32(block.data() + kMagic0Offset, kStartMagic0);
    StoreLe32(block.data() + kMagic1Offset, kStartMagic1);
    StoreLe32(block.data() + kFlagsOffset, family ? kFamilyPresent : 0);
    StoreLe32(block.data() + kPayloadSizeOffset, kPayloadSize);
    StoreLe32(block.data() + kBlockCountOffset, count);
    StoreLe32(block.data() + kFamilyOffset, family.value_or(0));
    StoreLe32(block.data() + kEndMagicOffset, kEndMagic);
    uint8_t* const payload = block.data() + kDataOffset;

    uint32_t number = 0;
    uint64_t page = UINT64_MAX;  // the page being gathered
    const auto emit = [&] {
        if (page == UINT64_MAX) return;
        StoreLe32(block.data() + kAddressOffset, static_cast<uint32_t>(page * kPayloadSize));
        StoreLe32(block.data() + kBlockNumberOffset, number++);
        output.Bytes(block.data(), block.size());
    };
    for (const ByteRun& run : runs) {
        uint64_t address = run.address;
        const uint8_t* data = run.data;
        uint64_t left = run.size;
        while (left > 0) {
            if (PageOf(address) != page) {
                emit();
                page = PageOf(address);
                std::memset(payload, pad, kPayloadSize);
            }
            const uint64_t offset = address % kPayloadSize;
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(left, kPayloadSize - offset));
            std::memcpy(payload + offset, data, n);
            address += n;
            data += n;
            left -= n;
        }
    }
    emit();
    return output.Close();
}
