// Feeds arbitrary bytes to the DfuSe parser and its listing. A file it finds
// sound is turned into images, written again by the builder and parsed once
// more: the rewrite must be sound and hold the same targets and elements. A
// sound plain DFU file is read at an address and written as a plain file
// again: the same payload, and with DFU version 0x0100 the same bytes.
// The first byte is a switch, the rest is the file: when its low bit is set,
// the file's CRC is made right first, so that mutations reach the checks of
// the structure behind it. Build with -DFWPACK_FUZZ=ON and clang.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dfuse/dfu_file.h"
#include "dfuse/dfu_parser.h"
#include "dfuse/plain_dfu.h"
#include "fuzz_util.h"
#include "info/report.h"
#include "info/report_json.h"
#include "info/report_text.h"
#include "load/loader.h"
#include "load/read_file.h"
#include "sys/output_file.h"

namespace {

bool SameTargets(const DfuFileInfo& a, const DfuFileInfo& b, const std::vector<uint8_t>& a_bytes,
                 const std::vector<uint8_t>& b_bytes) {
    if (a.targets.size() != b.targets.size()) return false;
    for (std::size_t t = 0; t < a.targets.size(); ++t) {
        const auto& x = a.targets[t];
        const auto& y = b.targets[t];
        if (x.alternate != y.alternate || (x.named != 0) != (y.named != 0) || x.name != y.name ||
            x.elements.size() != y.elements.size()) {
            return false;
        }
        for (std::size_t e = 0; e < x.elements.size(); ++e) {
            const auto& p = x.elements[e];
            const auto& q = y.elements[e];
            if (p.address != q.address || p.size != q.size ||
                !std::equal(a_bytes.begin() + p.data_offset, a_bytes.begin() + p.data_offset + p.size,
                            b_bytes.begin() + q.data_offset)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> bytes(data + 1, data + size);
    if ((data[0] & 1) != 0 && bytes.size() >= 4) {
        const uint32_t crc = DfuCrc(bytes.data(), bytes.size() - 4);
        for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    const DfuFileInfo info = ParseDfuFile(bytes.data(), bytes.size());
    // The listing and the JSON document of whatever the file holds.
    const std::string in = FuzzTempPath("in.dfu");
    if (std::FILE* file = std::fopen(in.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        const std::optional<uint32_t> base =
            (data[0] & 2) != 0 ? std::optional<uint32_t>(0x08000000) : std::optional<uint32_t>();
        const InfoReport report = MakeReport(InputFile{in, FileKind::kDfu, base}, {}, true);
        WriteReportText(report, [](const char*, std::size_t) {});
        ReportJson(report);
        // A file with a problem is never reported sound.
        if (!info.IsSound() && report.sound) __builtin_trap();
    }
    if (!info.IsSound()) return 0;

    // The images of the file, sharing a copy of its bytes.
    auto shared = std::make_shared<SharedBytes>();
    if (!shared->Resize(bytes.size())) return 0;
    std::copy(bytes.begin(), bytes.end(), shared->data());
    if (info.plain) {
        Error error;
        const auto image = PlainDfuImage(info, shared, 0x1000, 0, nullptr, "in.dfu", error);
        if (!image) __builtin_trap();
        const std::string out = FuzzTempPath("out.dfu");
        BinaryOutput output(out.c_str());
        if (!WritePlainDfu(output, image->GetList(), 0xFF,
                           {info.suffix.vendor, info.suffix.product, info.suffix.release})) {
            __builtin_trap();
        }
        std::vector<uint8_t> again;
        if (ReadWholeFile(out, again, dfu_format::kMaxFileSize) != WholeFileRead::kRead) __builtin_trap();
        const DfuFileInfo reread = ParseDfuFile(again.data(), again.size());
        if (!reread.IsSound() || !reread.plain ||
            !std::equal(bytes.begin(), bytes.end() - 16, again.begin(), again.end() - 16)) {
            __builtin_trap();
        }
        if (info.suffix.dfu_version == dfu_format::kPlainDfuVersion && again != bytes) __builtin_trap();
        return 0;
    }
    const auto images = TargetsOfDfuFile(info, shared);
    const std::string out = FuzzTempPath("out.dfu");
    {
        CDFUFile dfu(out.c_str(), info.suffix.vendor, info.suffix.product, info.suffix.release);
        for (const auto& image : images) {
            if (dfu.AddTarget(*image) != STATUS_SUCCESS) __builtin_trap();
        }
        if (dfu.Close() != STATUS_SUCCESS) __builtin_trap();
    }
    std::vector<uint8_t> again;
    if (ReadWholeFile(out, again, dfu_format::kMaxFileSize) != WholeFileRead::kRead) __builtin_trap();
    const DfuFileInfo reread = ParseDfuFile(again.data(), again.size());
    if (!reread.IsSound() || !SameTargets(info, reread, bytes, again)) __builtin_trap();
    return 0;
}
