// --info as text: the listing of the report, one line per target and per
// element, the totals, for a DfuSe file its suffix and prefix, then the pages
// each element erases and the warnings.
#include "info/report_text.h"

#include <cstring>
#include <memory>

#include "util/hex_encode.h"
#include "util/text_format.h"

namespace {

// A target name as it can be shown on any terminal: printable ASCII as it
// is, everything else (and the quote and backslash) escaped.
std::string QuotedName(const std::string& name) {
    std::string out = "\"";
    for (unsigned char c : name) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += Format("\\x%02X", unsigned{c});
        }
    }
    return out + "\"";
}

template <std::size_t N>
char* Put(char* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}

// A listing as it is made: lines gather in a chunk that goes to the sink
// whenever it is full, so that a listing of a million elements never lies in
// memory whole.
class Listing {
public:
    explicit Listing(const ListingSink& sink) : sink_(sink) {}
    ~Listing() { Flush(); }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    void Add(const std::string& text) {
        if (used_ + text.size() > kChunkSize) Flush();
        if (text.size() >= kChunkSize) {
            sink_(text.data(), text.size());
            return;
        }
        std::memcpy(chunk_.get() + used_, text.data(), text.size());
        used_ += text.size();
    }

    // "  element N: 0xADDRESS-0xLAST, N bytes" with its line end, formatted
    // by hand straight into the chunk: printf-style formatting, or a copy of
    // each line, would take most of a listing's time.
    void AddElementLine(uint64_t index, uint32_t address, uint32_t size) {
        char* at = Put(chunk_.get() + used_, "  element ");
        at = hex_encode::PutDecimal(at, index);
        at = Put(at, ": 0x");
        at = hex_encode::PutValue(at, address, 4);
        if (size == 0) {
            at = Put(at, ", 0 bytes\n");
        } else {
            at = Put(at, "-0x");
            at = hex_encode::PutHex8(at, uint64_t{address} + size - 1);
            at = Put(at, ", ");
            at = hex_encode::PutDecimal(at, size);
            at = size == 1 ? Put(at, " byte\n") : Put(at, " bytes\n");
        }
        used_ = static_cast<std::size_t>(at - chunk_.get());
        if (used_ >= kChunkSize) Flush();
    }

    void Flush() {
        if (used_ > 0) sink_(chunk_.get(), used_);
        used_ = 0;
    }

private:
    static constexpr std::size_t kChunkSize = std::size_t{256} << 10;
    // The longest element line is 73 characters.
    static constexpr std::size_t kLineRoom = 96;

    const ListingSink& sink_;
    std::unique_ptr<char[]> chunk_{new char[kChunkSize + kLineRoom]};
    std::size_t used_ = 0;
};

std::string TotalLine(uint64_t targets, uint64_t elements, uint64_t bytes) {
    return "total: " + Count(targets, "target") + ", " + Count(elements, "element") + ", " + Count(bytes, "byte") +
           "\n";
}

const char* KindName(FileKind kind) {
    switch (kind) {
        case FileKind::kHex: return "Intel HEX file";
        case FileKind::kSrec: return "Motorola S-record file";
        case FileKind::kBin: return "raw binary file";
        case FileKind::kDfu: return "DfuSe file";
        case FileKind::kElf: return "ELF file";
        case FileKind::kUf2: return "UF2 file";
        case FileKind::kUnknown: break;
    }
    return "file";
}

uint64_t Bytes(const ReportTarget& target) {
    uint64_t bytes = 0;
    for (const ElementSpan& element : target.elements) bytes += element.size;
    return bytes;
}

void ListElements(const InfoReport& report, Listing& listing, const std::string& head);

void ListDfuFile(const InfoReport& report, Listing& listing) {
    const DfuFileInfo& info = *report.dfu;
    std::string text = Format("%s: %s of %s\n", report.input.path.c_str(), info.plain ? "plain DFU file" : "DfuSe file",
                              Count(info.file_size, "byte").c_str());
    if (info.suffix_read) {
        const DfuSuffixInfo& s = info.suffix;
        const std::string crc =
            s.crc == s.computed_crc ? std::string("agrees") : Format("the bytes give 0x%08X", unsigned{s.computed_crc});
        text += Format(
            "suffix: vendor 0x%04X, product 0x%04X, release 0x%04X, DFU version 0x%04X, length %u, "
            "CRC 0x%08X (%s)\n",
            unsigned{s.vendor}, unsigned{s.product}, unsigned{s.release}, unsigned{s.dfu_version}, unsigned{s.length},
            unsigned{s.crc}, crc.c_str());
    }
    if (info.plain) {
        const uint64_t payload = info.file_size - 16;
        if (report.targets.empty()) {
            text += Format("payload: %s, no address (give its load address with -b ADDR to list it)\n",
                           Count(payload, "byte").c_str());
            return listing.Add(text);
        }
        text += Format("payload: %s at 0x%08X\n", Count(payload, "byte").c_str(), unsigned{*report.input.base});
        return ListElements(report, listing, text);
    }
    if (info.prefix_read) {
        const uint64_t body = info.file_size - 16;
        std::string size = Format("the file holds %llu", static_cast<unsigned long long>(body));
        if (info.image_size == body) size = "agrees";
        if (info.image_size_counts_suffix) size = "agrees with the whole file: it counts the 16-byte suffix too";
        text += Format("prefix: format version %u, image size %lu (%s), %s\n", unsigned{info.version},
                       static_cast<unsigned long>(info.image_size), size.c_str(),
                       Count(info.target_count, "target").c_str());
    }
    uint64_t elements = 0;
    uint64_t bytes = 0;
    for (std::size_t t = 0; t < report.targets.size(); ++t) {
        const ReportTarget& target = report.targets[t];
        const uint64_t target_bytes = Bytes(target);
        text += Format("target %llu: alternate setting %u, %s, %s, %s, target size %lu%s\n",
                       static_cast<unsigned long long>(t), unsigned{target.alternate},
                       target.named ? ("name " + QuotedName(target.name)).c_str() : "no name",
                       Count(target.element_count, "element").c_str(), Count(target_bytes, "byte").c_str(),
                       static_cast<unsigned long>(target.target_size), target.complete ? " (agrees)" : "");
        listing.Add(text);
        text.clear();
        for (std::size_t e = 0; e < target.elements.size(); ++e) {
            listing.AddElementLine(e, target.elements[e].address, target.elements[e].size);
        }
        elements += target.elements.size();
        bytes += target_bytes;
    }
    text += TotalLine(report.targets.size(), elements, bytes);
    listing.Add(text);
}

void ListUf2File(const InfoReport& report, Listing& listing) {
    const Uf2FileInfo& info = *report.uf2;
    std::string text = Format("%s: UF2 file of %s, %s", report.input.path.c_str(),
                              Count(info.file_size, "byte").c_str(), Count(info.blocks, "block").c_str());
    if (info.skipped > 0) text += Format(" (%llu not for main flash)", static_cast<unsigned long long>(info.skipped));
    text += "\nfamilies:";
    for (std::size_t f = 0; f < info.families.size(); ++f) {
        text += Format("%s %s (%s)", f == 0 ? "" : ",", FamilyText(info.families[f].id).c_str(),
                       Count(info.families[f].blocks, "block").c_str());
    }
    text += info.families.empty() ? " none\n" : "\n";
    if (report.targets.empty()) return listing.Add(text);
    ListElements(report, listing, text);
}

void ListImage(const InfoReport& report, Listing& listing) {
    ListElements(report, listing, Format("%s: %s\n", report.input.path.c_str(), KindName(report.input.kind)));
}

// The one target of an image after the lines `head`: its elements and the total.
void ListElements(const InfoReport& report, Listing& listing, const std::string& head) {
    const ReportTarget& target = report.targets.front();
    const auto count = static_cast<uint64_t>(target.elements.size());
    const uint64_t bytes = Bytes(target);
    listing.Add(head + Format("target 0: %s, %s\n", Count(count, "element").c_str(), Count(bytes, "byte").c_str()));
    std::size_t index = 0;
    for (const ElementSpan& element : target.elements) listing.AddElementLine(index++, element.address, element.size);
    listing.Add(TotalLine(1, count, bytes));
}

}  // namespace

void WriteReportText(const InfoReport& report, const ListingSink& sink) {
    Listing listing(sink);
    if (report.loaded) {
        if (report.dfu)
            ListDfuFile(report, listing);
        else if (report.uf2)
            ListUf2File(report, listing);
        else
            ListImage(report, listing);
    }
    std::string lines;
    for (const InsertedValue& value : report.inserted) {
        lines += Format("inserted: %s at 0x%08X: 0x%08X\n", value.option.c_str(), unsigned{value.address},
                        unsigned{value.value});
    }
    for (std::size_t t = 0; t < report.verdicts.size(); ++t) {
        const LayoutVerdict& verdict = report.verdicts[t];
        for (const ElementPages& pages : verdict.pages) {
            lines += Format("target %llu, element %llu: %s\n", static_cast<unsigned long long>(t),
                            static_cast<unsigned long long>(pages.element), layout::ErasureText(pages.erasure).c_str());
        }
        if (verdict.layout != nullptr) lines += UsageLine(verdict) + "\n";
    }
    for (const std::string& warning : report.warnings) lines += "warning: " + warning + "\n";
    listing.Add(lines);
}
