// The JSON document of --info: the file, its DfuSe prefix and suffix, its
// targets and elements with their CRC-32 and SHA-256, the warnings and the
// layout check.
#include "info/info_json.h"

#include "dfuse/dfu_format.h"
#include "util/json_writer.h"
#include "util/sha256.h"

namespace {

const char* KindWord(FileKind kind) {
    switch (kind) {
        case FileKind::kHex: return "hex";
        case FileKind::kSrec: return "srec";
        case FileKind::kBin: return "bin";
        case FileKind::kDfu: return "dfuse";
        case FileKind::kElf: return "elf";
        case FileKind::kUnknown: break;
    }
    return "unknown";
}

void Prefix(JsonWriter& json, const DfuFileInfo* dfu) {
    json.Key("prefix");
    if (dfu == nullptr || !dfu->prefix_read) return json.Null();
    json.BeginObject();
    json.Key("version");
    json.Number(dfu->version);
    json.Key("image_size");
    json.Number(dfu->image_size);
    json.Key("counts_suffix");
    json.Bool(dfu->image_size_counts_suffix);
    json.EndObject();
}

void Suffix(JsonWriter& json, const DfuFileInfo* dfu) {
    json.Key("suffix");
    if (dfu == nullptr || !dfu->suffix_read) return json.Null();
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

}  // namespace

std::string InfoJson(const ListedFile& file, const std::string& problem, const std::vector<std::string>& warnings,
                     const std::vector<LayoutVerdict>* verdicts) {
    JsonWriter json;
    json.BeginObject();
    json.Key("schema");
    json.Number(1);
    json.Key("file");
    json.String(file.input->path);
    json.Key("kind");
    json.String(KindWord(file.input->kind));
    json.Key("sound");
    json.Bool(problem.empty());
    json.Key("problem");
    if (problem.empty())
        json.Null();
    else
        json.String(problem);
    Prefix(json, file.dfu);
    Suffix(json, file.dfu);

    Sha256 whole;
    uint64_t total = 0;
    json.Key("targets");
    json.BeginArray();
    for (const ListedTarget& target : file.targets) {
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
        for (const ListedElement& element : target.elements) {
            Sha256 sha;
            sha.Update(element.data, element.size);
            whole.Update(element.data, element.size);
            total += element.size;
            json.BeginObject();
            json.Key("address");
            json.Number(element.address);
            json.Key("size");
            json.Number(element.size);
            json.Key("crc32");
            json.Number(dfu_format::Crc32(0, element.data, element.size));
            json.Key("sha256");
            json.String(sha.FinishHex());
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("total_size");
    json.Number(total);
    json.Key("sha256");
    json.String(whole.FinishHex());
    json.Key("warnings");
    json.BeginArray();
    for (const std::string& warning : warnings) json.String(warning);
    json.EndArray();

    json.Key("layout");
    if (verdicts == nullptr) {
        json.Null();
    } else {
        json.BeginArray();
        for (const LayoutVerdict& verdict : *verdicts) {
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
    json.EndObject();
    return json.Take();
}
