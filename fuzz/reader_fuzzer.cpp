// Feeds arbitrary bytes to both readers and, when they load, through both
// writers and the DfuSe builder. The first byte picks the reader; the rest is
// the file. Build with -DFWPACK_FUZZ=ON and clang.
#include <cstdint>
#include <cstdio>
#include <string>

#include "dfu_file.h"
#include "fuzz_util.h"
#include "image.h"

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
        // What the writers wrote must load again.
        if (!srec.IsLoaded() || !hex.IsLoaded()) __builtin_trap();
    }
    return 0;
}
