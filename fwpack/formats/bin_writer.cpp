// The raw binary writer: the runs of the image in address order, and the
// holes between them as the pad byte.
#include "formats/bin_writer.h"

#include <algorithm>
#include <vector>

#include "formats/byte_runs.h"
#include "sys/output_file.h"

void WriteBinBytes(TextOutput& output, const ElementList& list, uint8_t pad, const ByteSink& seen) {
    if (!output.IsOpen()) return;
    const std::vector<uint8_t> pads(64 * 1024, pad);
    const auto put = [&](const uint8_t* data, std::size_t size) {
        output.Bytes(data, size);
        if (seen) seen(data, size);
    };
    uint64_t at = 0;
    bool first = true;
    for (const ByteRun& run : ByteRuns(list)) {
        for (uint64_t hole = first ? 0 : run.address - at; hole > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(hole, pads.size()));
            put(pads.data(), n);
            hole -= n;
        }
        put(run.data, run.size);
        at = uint64_t{run.address} + run.size;
        first = false;
    }
}

bool WriteBin(TextOutput& output, const ElementList& list, uint8_t pad) {
    if (!output.IsOpen()) return false;
    WriteBinBytes(output, list, pad, nullptr);
    return output.Close();
}
