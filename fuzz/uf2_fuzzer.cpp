// Feeds arbitrary bytes to the UF2 reader and to --info on them. What it
// reads is written as UF2 and read again, twice: the second reading holds
// every byte of the first at its address, and writing it once more and
// reading that gives the same bytes again. The first byte is a switch, the
// second the family to choose, the rest is the file: when the switch's low
// bit is set, every block's magics are made right first, so that mutations
// reach the checks behind them. Build with -DFWPACK_FUZZ=ON and clang.
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/uf2_format.h"
#include "formats/uf2_reader.h"
#include "formats/uf2_writer.h"
#include "fuzz_util.h"
#include "info/report.h"
#include "info/report_json.h"
#include "info/report_text.h"
#include "load/read_file.h"
#include "sys/output_file.h"

namespace {

using namespace uf2_format;

std::map<uint32_t, uint8_t> ByteMap(const ElementList& list) {
    std::map<uint32_t, uint8_t> bytes;
    for (const ImageElement& e : list) {
        for (uint32_t i = 0; i < e.size; ++i) bytes[e.address + i] = e.data[i];
    }
    return bytes;
}

// Writes `list` as UF2 and reads it back into `again`; false when either step fails.
bool RoundTrip(const ElementList& list, std::optional<uint32_t> family, ElementList& again) {
    const std::string path = FuzzTempPath("out.uf2");
    BinaryOutput output(path.c_str());
    if (!WriteUf2(output, list, 0xFF, family)) return false;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, UINT64_MAX) != WholeFileRead::kRead) return false;
    return ReadUf2(bytes.data(), bytes.size(), family, again).IsSound();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::vector<uint8_t> bytes(data + 2, data + size);
    if ((data[0] & 1) != 0) {
        for (std::size_t at = 0; at + kBlockSize <= bytes.size(); at += kBlockSize) {
            StoreLe32(&bytes[at + kMagic0Offset], kStartMagic0);
            StoreLe32(&bytes[at + kMagic1Offset], kStartMagic1);
            StoreLe32(&bytes[at + kEndMagicOffset], kEndMagic);
        }
    }
    // A handful of families, so that the choice sometimes meets one in the file.
    const std::optional<uint32_t> family =
        (data[0] & 2) != 0 ? std::optional<uint32_t>(data[1] & 3) : std::optional<uint32_t>();

    const std::string in = FuzzTempPath("in.uf2");
    if (std::FILE* file = std::fopen(in.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        InputFile input{in, FileKind::kUf2, std::nullopt};
        input.family = family;
        const InfoReport report = MakeReport(input, {}, true);
        WriteReportText(report, [](const char*, std::size_t) {});
        ReportJson(report);
    }

    ElementList first;
    if (!ReadUf2(bytes.data(), bytes.size(), family, first).IsSound()) return 0;
    // An image without bytes is written as a file without blocks, which
    // holds no family to read back.
    if (first.GetCount() == 0) return 0;
    ElementList second;
    if (!RoundTrip(first, family, second)) __builtin_trap();
    const std::map<uint32_t, uint8_t> read = ByteMap(first);
    const std::map<uint32_t, uint8_t> written = ByteMap(second);
    for (const auto& [address, byte] : read) {
        const auto found = written.find(address);
        if (found == written.end() || found->second != byte) __builtin_trap();
    }
    ElementList third;
    if (!RoundTrip(second, family, third) || ByteMap(third) != written) __builtin_trap();
    return 0;
}
