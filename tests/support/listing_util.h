// What the tests take of the converter in forms the program itself does not
// need: an image's --info listing as one string, and the targets of a DfuSe
// file as images that copy its bytes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dfuse/dfu_parser.h"
#include "image/image.h"
#include "info/report.h"
#include "info/report_text.h"

namespace testutil {

// The listing of `image` as --info prints it for a file `path` of `kind`.
inline std::string DescribeImage(const std::string& path, FileKind kind, const CImage& image) {
    InfoReport report;
    report.input = InputFile{path, kind, std::nullopt};
    report.loaded = true;
    ReportTarget target;
    target.elements.assign(image.GetList().begin(), image.GetList().end());
    report.targets.push_back(std::move(target));
    std::string text;
    WriteReportText(report, [&](const char* part, std::size_t length) { text.append(part, length); });
    return text;
}

// The targets of a sound DfuSe file `data` as images that copy their bytes.
inline std::vector<std::unique_ptr<CImage>> CopiedTargetsOfDfuFile(const DfuFileInfo& info, const uint8_t* data) {
    std::vector<std::unique_ptr<CImage>> images;
    for (const DfuTargetInfo& t : info.targets) {
        auto image = std::make_unique<CImage>(t.alternate, t.named != 0, t.name.c_str());
        for (const DfuElementInfo& e : t.elements) {
            image->PutElement(image->GetNbElements(), true,
                              ImageElement{e.address, e.size, const_cast<uint8_t*>(data + e.data_offset)});
        }
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace testutil
