// The JSON document of --info: the file, its DfuSe prefix and suffix, its
// targets and elements with their CRC-32 and SHA-256, the warnings and the
// layout check.
#include "info/report_json.h"

#include "util/json_writer.h"
#include "util/sha256.h"

namespace {

const char* KindWord(const InfoReport& report) {
    if (report.dfu && report.dfu->plain) return "dfu";
    const FileKind kind = report.input.kind;
    switch (kind) {
        case FileKind::kHex: return "hex";
        case FileKind::kSrec: return "srec";
        case FileKind::kBin: return "bin";
        case FileKind::kDfu: return "dfuse";
        case FileKind::kElf: return "elf";
        case FileKind::kUf2: return "uf2";
        case FileKind::kUnknown: break;
    }
    return "unknown";
}

void Prefix(JsonWriter& json, const std::optional<DfuFileInfo>& dfu) {
    json.Key("prefix");
    if (!dfu || !dfu->prefix_read) return json.Null();
    json.BeginObject();
    json.Key("version");
    json.Number(dfu->version);
    json.Key("image_size");
    json.Number(dfu->image_size);
    json.Key("counts_suffix");
    json.Bool(dfu->image_size_counts_suffix);
    json.EndObject();
}

void Suffix(JsonWriter& json, const std::optional<DfuFileInfo>& dfu) {
    json.Key("suffix");
    if (!dfu || !dfu->suffix_read) return json.Null();
    const DfuSuffixInfo& s = dfu->suffix;
    json.BeginObject();
    const std::pair<const char*, uint64_t> fields[] = {{"vendor", s.vendor},
                                                       {"product", s.product},
                                                       {"release", s.release},
                                                       {"dfu_version", s.dfu_version},
                                                       {"crc", s.crc}};
    for (const auto& [name, value] : fields) {
        json.Key(name);
        json.Number(value);
    }
    json.Key("crc_ok");
    json.Bool(s.crc == s.computed_crc);
    json.EndObject();
}

void Uf2Fields(JsonWriter& json, const Uf2FileInfo& uf2) {
    json.Key("blocks");
    json.Number(uf2.blocks);
    json.Key("skipped_blocks");
    json.Number(uf2.skipped);
    json.Key("families");
    json.BeginArray();
    for (const Uf2Family& family : uf2.families) {
        json.BeginObject();
        json.Key("id");
        if (family.id)
            json.Number(*family.id);
        else
            json.Null();
        json.Key("blocks");
        json.Number(family.blocks);
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

std::string ReportJson(const InfoReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("schema");
    json.Number(2);
    json.Key("file");
    json.String(report.input.path);
    json.Key("kind");
    json.String(KindWord(report));
    json.Key("sound");
    json.Bool(report.sound);
    json.Key("problem");
    if (report.sound)
        json.Null();
    else
        json.String(ProblemText(report.problem));
    Prefix(json, report.dfu);
    Suffix(json, report.dfu);
    if (report.dfu && report.dfu->plain) {
        json.Key("payload_size");
        json.Number(report.dfu->file_size - 16);
    }
    if (report.uf2) Uf2Fields(json, *report.uf2);

    uint64_t total = 0;
    json.Key("targets");
    json.BeginArray();
    for (std::size_t t = 0; t < report.targets.size(); ++t) {
        const ReportTarget& target = report.targets[t];
        json.BeginObject();
        json.Key("alternate");
        json.Number(target.alternate);
        json.Key("name");
        if (target.named)
            json.String(target.name);
        else
            json.Null();
        json.Key("elements");
        json.BeginArray();
        for (std::size_t e = 0; e < target.elements.size(); ++e) {
            const ElementSpan& element = target.elements[e];
            const ElementDigest& digest = report.digests[t][e];
            total += element.size;
            json.BeginObject();
            json.Key("address");
            json.Number(element.address);
            json.Key("size");
            json.Number(element.size);
            json.Key("crc32");
            json.Number(digest.crc32);
            json.Key("sha256");
            json.String(Sha256::Hex(digest.sha256));
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("total_size");
    json.Number(total);
    json.Key("sha256");
    if (report.loaded)
        json.String(report.sha256);
    else
        json.Null();
    json.Key("warnings");
    json.BeginArray();
    for (const std::string& warning : report.warnings) json.String(warning);
    json.EndArray();

    if (report.staged) {
        // The values that the image stage wrote, in the order written.
        json.Key("inserted");
        json.BeginArray();
        for (const InsertedValue& value : report.inserted) {
            json.BeginObject();
            json.Key("option");
            json.String(value.option);
            json.Key("address");
            json.Number(value.address);
            json.Key("value");
            json.Number(value.value);
            json.EndObject();
        }
        json.EndArray();
    }

    json.Key("layout");
    if (!report.layouts_given) {
        json.Null();
    } else {
        json.BeginArray();
        for (const LayoutVerdict& verdict : report.verdicts) {
            json.BeginObject();
            json.Key("alternate");
            json.Number(verdict.alternate);
            json.Key("name");
            if (verdict.layout == nullptr)
                json.Null();
            else
                json.String(layout::TrimmedName(*verdict.layout));
            json.Key("ok");
            if (verdict.layout == nullptr)
                json.Null();
            else
                json.Bool(verdict.violation.empty());
            json.Key("violation");
            if (verdict.violation.empty())
                json.Null();
            else
                json.String(verdict.violation);
            json.EndObject();
        }
        json.EndArray();
    }
    // The figures of the summary line, per layout, beside the check.
    json.Key("usage");
    if (!report.layouts_given) {
        json.Null();
    } else {
        json.BeginArray();
        for (const LayoutVerdict& verdict : report.verdicts) {
            if (verdict.layout == nullptr) continue;
            json.BeginObject();
            json.Key("alternate");
            json.Number(verdict.alternate);
            json.Key("name");
            json.String(layout::TrimmedName(*verdict.layout));
            const std::pair<const char*, uint64_t> figures[] = {{"written", verdict.usage.written},
                                                                {"writeable", verdict.usage.writeable},
                                                                {"pages_erased", verdict.usage.pages_erased},
                                                                {"pages", verdict.usage.pages}};
            for (const auto& [name, value] : figures) {
                json.Key(name);
                json.Number(value);
            }
            json.EndObject();
        }
        json.EndArray();
    }
    json.EndObject();
    return json.Take();
}
