// Loads an Intel HEX or S-record file into an image and writes it as a DfuSe
// file with one target, through the fwpack library's image class and DfuSe
// builder; then lists what the file holds through the library's report.
#include <cstdio>

#include "dfuse/dfu_file.h"
#include "image/image.h"
#include "info/report.h"
#include "info/report_text.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack_image INPUT.hex OUTPUT.dfu\n");
        return 2;
    }
    // The image loads its file by the extension and prints what its reader
    // finds wrong.
    CImage image(0, argv[1], true, "Application");
    if (!image.IsLoaded()) return 1;
    std::printf("%s: %d elements, %u bytes\n", argv[1], static_cast<int>(image.GetNbElements()),
                static_cast<unsigned>(image.GetTotalSize()));
    {
        CDFUFile dfu(argv[2], 0x1209, 0x5AF0, 0x0100);
        if (dfu.GetStatus() != STATUS_SUCCESS || dfu.AddTarget(image) != STATUS_SUCCESS ||
            dfu.Close() != STATUS_SUCCESS) {
            std::fprintf(stderr, "pack_image: cannot write %s\n", argv[2]);
            return 1;
        }
    }
    const InfoReport report = MakeReport(InputFile{argv[2], FileKind::kDfu, std::nullopt}, {}, false);
    WriteReportText(report, [](const char* text, std::size_t length) { std::fwrite(text, 1, length, stdout); });
    return report.sound ? 0 : 1;
}
