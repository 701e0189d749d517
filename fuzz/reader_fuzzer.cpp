// Feeds arbitrary bytes to both readers and, when they load, through both
// writers and the DfuSe builder; what each writer wrote must read back with
// the same bytes at the same addresses. The first byte picks the reader; the
// rest is the file. Build with -DFWPACK_FUZZ=ON and clang.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "dfuse/dfu_file.h"
#include "fuzz_util.h"
#include "image/image.h"
#include "model/element_view.h"

namespace {

// The bytes of an image as runs in list order: elements that continue one
// another are joined, as records are joined on reading.
std::vector<std::pair<uint32_t, std::vector<uint8_t>>> Runs(const CImage& image) {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> runs;
    for (const ImageElement& e : image.GetList()) {
        if (e.size == 0) continue;
        if (runs.empty() || uint64_t{runs.back().first} + runs.back().second.size() != e.address) {
            runs.emplace_back(e.address, std::vector<uint8_t>());
        }
        runs.back().second.insert(runs.back().second.end(), e.data, e.data + e.size);
    }
    return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string input = FuzzTempPath(data[0] & 1 ? "in.hex" : "in.srec");
    if (std::FILE* file = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, file);
        std::fclose(file);
    }
    CImage image(0, input.c_str(), true, "fuzz");
    if (image.IsLoaded() && image.GetTotalSize() < (1u << 20)) {
        image.SaveToFile(FuzzTempPath("out.srec").c_str());
        image.SaveToFile(FuzzTempPath("out.hex").c_str());
        CImage srec(0, FuzzTempPath("out.srec").c_str(), false, nullptr);
        CImage hex(0, FuzzTempPath("out.hex").c_str(), false, nullptr);
        CDFUFile dfu(FuzzTempPath("out.dfu").c_str(), 0x0483, 0, 0);
        dfu.AddTarget(image);
        // What the writers wrote must load again, and hold what they were given.
        if (!srec.IsLoaded() || !hex.IsLoaded()) __builtin_trap();
        // Every byte, unless the converter refuses to write the image: an
        // element that runs past 0xFFFFFFFF is left out by the writers.
        const auto runs = Runs(image);
        const ElementList& list = image.GetList();
        if (FirstPastTheTop(list) == list.end() && (Runs(srec) != runs || Runs(hex) != runs)) __builtin_trap();
    }
    return 0;
}
