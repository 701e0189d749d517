// The rows of the option table, their handlers, and --help made from them.
#include "app/option_table.h"

#include <algorithm>

#include "app/number_values.h"
#include "dfuse/defaults.h"
#include "image/image.h"
#include "util/text_format.h"

namespace {

InputFile Input(const std::string& path) { return InputFile{path, KindOfPath(path), std::nullopt}; }

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

void Device(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint16_t vendor = 0, product = 0;
    if (!ParseDeviceIds(value, vendor, product)) {
        return state.Error(Format("%s: '%s' is not VID:PID (1 to 4 hexadecimal digits each, as in 1209:5af0)",
                                  shown.c_str(), value.c_str()));
    }
    state.options().vendor = vendor;
    state.options().product = product;
}

void Release(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint16_t release = 0;
    if (!ParseHex16(value, release)) {
        return state.Error(Format("%s: '%s' is not a release number (1 to 4 hexadecimal digits, as in 0100)",
                                  shown.c_str(), value.c_str()));
    }
    state.options().release = release;
}

void OutputFormatOption(CommandLineState& state, const std::string& shown, const std::string& value) {
    const std::string name = Lower(value);
    if (name == "dfu") {
        state.options().format = OutputFormat::kDfu;
    } else if (name == "hex") {
        state.options().format = OutputFormat::kHex;
    } else if (name == "srec") {
        state.options().format = OutputFormat::kSrec;
    } else if (name == "dfu-plain") {
        state.options().format = OutputFormat::kDfuPlain;
    } else if (name == "bin") {
        state.options().format = OutputFormat::kBin;
    } else if (name == "uf2") {
        state.options().format = OutputFormat::kUf2;
    } else {
        state.Error(Format("%s: '%s' is not an output format (dfu, dfu-plain, bin, uf2, hex or srec)", shown.c_str(),
                           value.c_str()));
    }
}

void Output(CommandLineState& state, const std::string&, const std::string& value) {
    state.options().exact_output = value;
}

void InputFormat(CommandLineState& state, const std::string& shown, const std::string& value) {
    const std::optional<FileKind> kind = ParseInputFormat(value);
    if (!kind) {
        return state.Error(
            Format("%s: '%s' is not an input format (hex, srec, bin, dfu, elf or uf2)", shown.c_str(), value.c_str()));
    }
    state.options().input_format = kind;
}

void Alternate(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint8_t alternate = 0;
    if (!ParseAlternate(value, alternate)) {
        return state.Error(Format("%s: '%s' is not an alternate setting (0 to 255)", shown.c_str(), value.c_str()));
    }
    state.current().alternate = alternate;
}

void Name(CommandLineState& state, const std::string& shown, const std::string& value) {
    if (value.empty() || value.size() > CImage::kMaxNameLength) {
        return state.Error(Format("%s: a target name has 1 to 255 bytes; this one has %llu", shown.c_str(),
                                  static_cast<unsigned long long>(value.size())));
    }
    state.current().name = value;
}

void Base(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint32_t base = 0;
    if (!ParseAddress(value, base)) {
        return state.Error(Format("%s: '%s' is not an address (1 to 8 hexadecimal digits, as in 0x08000000)",
                                  shown.c_str(), value.c_str()));
    }
    state.current().bases.push_back(base);
    state.base_shown.push_back(value);
}

void Add(CommandLineState& state, const std::string&, const std::string& value) {
    state.current().inputs.push_back(Input(value));
}

void Target(CommandLineState& state, const std::string&, const std::string& value) {
    state.options().targets.emplace_back();
    state.current().inputs.push_back(Input(value));
}

void Layout(CommandLineState& state, const std::string& shown, const std::string& value) {
    CommandLineState::PendingLayout pending;
    std::string problem;
    if (!ParseLayoutOption(value, pending.alternate, pending.memory, problem)) {
        return state.Error(Format("%s: %s", shown.c_str(), problem.c_str()));
    }
    pending.target = state.options().targets.size() - 1;
    state.layouts.push_back(std::move(pending));
}

void PadByte(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint64_t byte = 0;
    std::string problem;
    if (!ParseNumber(value, 0xFF, byte, problem)) return state.Error(shown + ": " + problem);
    state.options().pad_byte = static_cast<uint8_t>(byte);
}

void Family(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint64_t family = 0;
    std::string problem;
    if (!ParseNumber(value, 0xFFFFFFFF, family, problem)) return state.Error(shown + ": " + problem);
    state.options().family = static_cast<uint32_t>(family);
}

// The options of the image stage: each changes the stage of the target opened last.
void Crop(CommandLineState& state, const std::string& shown, const std::string& value) {
    AddressRange range;
    std::string problem;
    if (!ParseRange(value, range, problem)) return state.Error(shown + ": " + problem);
    state.current().stage.crops.push_back(range);
}

void Exclude(CommandLineState& state, const std::string& shown, const std::string& value) {
    AddressRange range;
    std::string problem;
    if (!ParseRange(value, range, problem)) return state.Error(shown + ": " + problem);
    state.current().stage.excludes.push_back(range);
}

void Offset(CommandLineState& state, const std::string& shown, const std::string& value) {
    int64_t offset = 0;
    std::string problem;
    if (!ParseSignedNumber(value, 0xFFFFFFFF, offset, problem)) return state.Error(shown + ": " + problem);
    state.current().stage.offset = offset;
    state.current().stage.offset_shown = value;
}

void Fill(CommandLineState& state, const std::string& shown, const std::string& value) {
    if (Lower(value) == "all") {
        state.current().stage.fill_all = true;
        return;
    }
    AddressRange range;
    std::string problem;
    if (value.find_first_of("-+", 1) == std::string::npos) {
        return state.Error(
            Format("%s: '%s' is neither a range (START-END or START+LENGTH) nor all", shown.c_str(), value.c_str()));
    }
    if (!ParseRange(value, range, problem)) return state.Error(shown + ": " + problem);
    state.current().stage.fills.push_back(range);
}

void Align(CommandLineState& state, const std::string& shown, const std::string& value) {
    uint64_t align = 0;
    std::string problem;
    if (!ParseNumber(value, 0x100000, align, problem)) return state.Error(shown + ": " + problem);
    if (align < 2 || (align & (align - 1)) != 0) {
        return state.Error(Format("%s: '%s' is not a power of two from 2 to 0x100000", shown.c_str(), value.c_str()));
    }
    state.current().stage.align = static_cast<uint32_t>(align);
}

void PadPages(CommandLineState& state, const std::string&, const std::string&) {
    state.current().stage.pad_pages = true;
}

// ADDR[,RANGE] of an insertion.
void Insert(CommandLineState& state, const std::string& shown, const std::string& value, InsertKind kind,
            bool big_endian) {
    Insertion insertion;
    insertion.kind = kind;
    insertion.big_endian = big_endian;
    insertion.option = shown;
    const std::size_t comma = value.find(',');
    uint64_t address = 0;
    std::string problem;
    if (!ParseNumber(value.substr(0, comma), 0xFFFFFFFC, address, problem)) {
        return state.Error(shown + ": " + problem + " (ADDR[,RANGE], 4 bytes at ADDR)");
    }
    insertion.address = static_cast<uint32_t>(address);
    if (comma != std::string::npos) {
        AddressRange range;
        if (!ParseRange(value.substr(comma + 1), range, problem)) return state.Error(shown + ": " + problem);
        insertion.range = range;
    }
    state.current().stage.insertions.push_back(std::move(insertion));
}

void Crc32(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kCrc32, false);
}
void Crc32Be(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kCrc32, true);
}
void Mpeg2(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kCrc32Mpeg2, false);
}
void Mpeg2Be(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kCrc32Mpeg2, true);
}
void Length(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kLength, false);
}
void LengthBe(CommandLineState& s, const std::string& n, const std::string& v) {
    Insert(s, n, v, InsertKind::kLength, true);
}

void Overlap(CommandLineState& state, const std::string& shown, const std::string& value) {
    const std::string mode = Lower(value);
    if (mode == "refuse") {
        state.options().overlap = OverlapMode::kRefuse;
    } else if (mode == "identical") {
        state.options().overlap = OverlapMode::kIdentical;
    } else if (mode == "replace") {
        state.options().overlap = OverlapMode::kReplace;
    } else {
        state.Error(
            Format("%s: '%s' is not an overlap rule (refuse, identical or replace)", shown.c_str(), value.c_str()));
    }
}

void Split(CommandLineState& state, const std::string&, const std::string&) { state.options().split = true; }
void Json(CommandLineState& state, const std::string&, const std::string&) { state.options().json = true; }
void Map(CommandLineState& state, const std::string& shown, const std::string& value) {
    if (value.empty() || value == kStandardStream) {
        return state.Error(Format("%s: the picture goes to a file: name it (as in memory.svg)", shown.c_str()));
    }
    state.options().map = value;
}
void Compare(CommandLineState& state, const std::string&, const std::string&) { state.options().compare = true; }
void Help(CommandLineState& state, const std::string&, const std::string&) { state.options().help = true; }
void Version(CommandLineState& state, const std::string&, const std::string&) { state.options().version = true; }

// --info is a switch; "--info=FILE" names its file as the first argument would.
void Info(CommandLineState& state, const std::string&, const std::string& value) {
    state.options().info = true;
    if (!value.empty()) state.options().info_file = value;
}

const char* const kOutput = "Output";
const char* const kTarget =
    "Target (each applies to the target opened last: the first one until a\n--target opens another)";
const char* const kLayouts = "Memory layouts";
const char* const kImage = "Image";
const char* const kStage =
    "Image stage (of the target opened last; run in this order: crop, exclude,\noffset, fill, align, pad-pages, "
    "then the insertions as given)";
const char* const kOther = "Other";

std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const std::vector<OptionRow>& OptionTable() {
    static const std::vector<OptionRow> table = {
        {'d', "device", "VID:PID", kTakesValue, kOutput,
         "vendor and product IDs of the DFU suffix, 1 to 4 hex\ndigits each, 0x optional (default 0483:0000; a .dfu\n"
         "input keeps its own); ffff means any",
         Device},
        {'r', "release", "BCD", kTakesValue, kOutput,
         "device release number of the DFU suffix, 1 to 4 hex\ndigits (default 0000; a .dfu input keeps its own)",
         Release},
        {'f', "format", "FORMAT", kTakesValue, kOutput,
         "dfu, dfu-plain (a plain DFU file: the bytes and the DFU\nsuffix), bin (the bytes alone), uf2, hex or srec, in any\n"
         "case (default dfu); all but dfu write one target",
         OutputFormatOption},
        {'o', "output", "FILE", kTakesValue, kOutput,
         "the output, named exactly (no extension is added or\nreplaced); - writes to standard output", Output},
        {'I', "input-format", "FORMAT", kTakesValue | kWithInfo | kWithCompare, kOutput,
         "hex, srec, bin, dfu, elf or uf2: the format of every input\nwhose extension is none of the above, and of - (the\n"
         "standard input)",
         InputFormat},
        {0, "family", "ID", kTakesValue | kWithInfo, kOutput,
         "a 32-bit UF2 family ID: stamped on the blocks of -f uf2;\nof a UF2 input, the family whose blocks are read",
         Family},
        {'a', "alt", "N", kTakesValue | kNamesTarget | kWithCompare, kTarget,
         "alternate setting, 0 to 255 (default 0 for the first\ntarget, one more than the previous one's for each\n"
         "further target); of a .dfu input: the target to take",
         Alternate},
        {'n', "name", "TEXT", kTakesValue | kNamesTarget, kTarget, "target name, 1 to 255 bytes (default \"ST...\")",
         Name},
        {'b', "base", "ADDR", kTakesValue | kWithInfo | kWithCompare, kTarget,
         "load address of a .bin input, hex (0x optional); the\nfirst -b of a target goes to its first .bin input,\n"
         "the second to the second, and so on",
         Base},
        {0, "add", "FILE", kTakesValue, kTarget,
         "one more input in the same target; the elements of\nall its inputs are ordered by address, and a byte\n"
         "that two inputs both define is an error",
         Add},
        {'t', "target", "FILE", kTakesValue | kNamesTarget, kTarget,
         "opens one more target (at most 255), FILE its first\ninput", Target},
        {0, "layout", "[ALT=]TEXT", kTakesValue | kWithInfo, kLayouts,
         "the memory of alternate setting ALT as the device\nreports it (\"@Internal Flash /0x08000000/04*016Kg\");\n"
         "without ALT=, of the target opened last (with --info:\nof alternate setting 0); repeatable. A conversion and\n"
         "--info refuse a byte outside writeable memory",
         Layout},
        {0, "split", nullptr, 0, kLayouts,
         "puts each element of the inputs into the target whose\nlayout holds it, named after the layout (not with -n,\n"
         "-a or --target)",
         Split},
        {0, "pad-byte", "BYTE", kTakesValue | kWithInfo, kImage,
         "what fills the holes that are filled (default 0xFF, the\nerased state of flash); 0x for hexadecimal, else\ndecimal",
         PadByte},
        {0, "overlap", "RULE", kTakesValue, kImage,
         "refuse, identical or replace: two inputs of a target\nthat give one address a byte are refused (default),\n"
         "accepted when the bytes agree, or the later one wins",
         Overlap},
        {0, "crop", "RANGE", kTakesValue | kWithInfo, kStage,
         "keeps only the bytes inside RANGE (START-END, END not\nincluded, or START+LENGTH); repeatable", Crop},
        {0, "exclude", "RANGE", kTakesValue | kWithInfo, kStage, "drops the bytes inside RANGE; repeatable", Exclude},
        {0, "offset", "N", kTakesValue | kWithInfo, kStage,
         "adds N (may be negative: -0x08000000) to every address;\nlater steps take addresses after it", Offset},
        {0, "fill", "RANGE|all", kTakesValue | kWithInfo, kStage,
         "fills the holes inside RANGE with the pad byte; all:\nfrom the lowest to the highest byte (at most 16 MiB\n"
         "of holes); repeatable",
         Fill},
        {0, "align", "N", kTakesValue | kWithInfo, kStage,
         "each element starts and ends on a multiple of N (a\npower of two, 2 to 0x100000), padded", Align},
        {0, "pad-pages", nullptr, kWithInfo, kStage,
         "each element grows to the edges of the pages it\ntouches (needs the target's --layout)", PadPages},
        {0, "crc32", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage,
         "writes the CRC-32 of RANGE (default: every byte) at\nADDR, least significant byte first", Crc32},
        {0, "crc32-be", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage, "the same, most significant byte first",
         Crc32Be},
        {0, "crc32-mpeg2", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage,
         "writes the CRC-32/MPEG-2 of RANGE's 32-bit\nlittle-endian words (whole words, no holes) at ADDR", Mpeg2},
        {0, "crc32-mpeg2-be", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage, "the same, most significant byte first",
         Mpeg2Be},
        {0, "length", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage,
         "writes the span of RANGE's bytes and the field\nitself at ADDR, least significant byte first", Length},
        {0, "length-be", "ADDR[,RANGE]", kTakesValue | kWithInfo, kStage, "the same, most significant byte first",
         LengthBe},
        {0, "info", nullptr, kValueAfterEquals | kWithInfo, kOther,
         "lists and checks what the file holds (.dfu, .hex,\n.srec, .bin, .elf, .uf2); writes nothing but a --map\n"
         "picture; exit 0 when it is sound",
         Info},
        {0, "map", "FILE", kTakesValue | kWithInfo, kOther,
         "with --info or a conversion: writes an SVG picture of\nthe memory (with --layout: of each memory's pages)",
         Map},
        {0, "compare", nullptr, kWithCompare, kOther,
         "checks that every byte of the first file is in the\nsecond at its address (a readback of the device);\n"
         "takes -b, -I, -a and --json; exit 0 when they agree,\n1 when they differ, 2 for any trouble",
         Compare},
        {0, "json", nullptr, kWithInfo | kWithCompare, kOther,
         "with --info or --compare: the result as one JSON\ndocument", Json},
        {'h', "help", nullptr, 0, kOther, "this text", Help},
        {'V', "version", nullptr, 0, kOther, "the version", Version},
    };
    return table;
}

const OptionRow* FindShortOption(char name) {
    for (const OptionRow& row : OptionTable()) {
        if (row.short_name != 0 && row.short_name == name) return &row;
    }
    return nullptr;
}

const OptionRow* FindLongOption(const std::string& name) {
    for (const OptionRow& row : OptionTable()) {
        if (name == row.long_name) return &row;
    }
    return nullptr;
}

const OptionRow* NearestLongOption(const std::string& name) {
    const OptionRow* nearest = nullptr;
    std::size_t best = 3;  // a slip of up to two letters
    for (const OptionRow& row : OptionTable()) {
        const std::size_t distance = Distance(name, row.long_name);
        if (distance < best && distance < std::string(row.long_name).size()) {
            best = distance;
            nearest = &row;
        }
    }
    return nearest;
}

const char* UsageText() {
    static const std::string text = [] {
        std::string usage = R"(Usage: fwpack [options] <input> [<output>]
       fwpack [options] <input> -o <file>
       fwpack --info [-b ADDR] [-I FORMAT] [--layout TEXT]... [--json] <file>
       fwpack --split --layout ALT=TEXT... [options] <input> [<output>]
       fwpack --compare [-b ADDR]... [-I FORMAT] [-a N] [--json] <expected> <actual>

Converts a firmware image into a DfuSe file, a plain DFU file, a raw binary,
a UF2 file, Intel HEX or S-records. Inputs are read by their extension, in
any case: .hex (Intel HEX), .srec (Motorola S-records), .bin (raw binary,
needs -b), .dfu (DfuSe; a plain DFU file needs -b), .uf2 (UF2), and .elf or
.axf (ELF: what a loader programs, each segment at its load address); -I
names the format of any other. Without <output>, the output is the input's
name with the output format's extension (fw.hex -> fw.dfu); a given <output>
gets that extension too; -o names it exactly. "-" is standard input or output.
An option's value is the next argument as it stands, even when it begins
with "-".
)";
        const char* group = nullptr;
        for (const OptionRow& row : OptionTable()) {
            if (group == nullptr || std::string(group) != row.group) {
                group = row.group;
                usage += std::string("\n") + group + ":\n";
            }
            std::string names = row.short_name ? std::string("  -") + row.short_name + ", --" : "      --";
            names += row.long_name;
            if (row.argument) names += std::string(" ") + row.argument;
            const std::string indent(25, ' ');
            usage += names.size() < 24 ? names + std::string(25 - names.size(), ' ') : names + "\n" + indent;
            for (const char c : std::string(row.help)) usage += c == '\n' ? "\n" + indent : std::string(1, c);
            usage += "\n";
        }
        usage += R"(  --                     ends the options: later arguments are files

Examples:
  fwpack -d 1209:5af0 firmware.hex
  fwpack -d 1209:5af0 firmware.elf -o app-v1.2.3.dfu
  fwpack -I srec firmware.s19
  fwpack -d 1209:5af0 bootloader.hex --add application.hex firmware.dfu
  fwpack -d 1209:5af0 -n "Internal Flash" app.hex \
         --target option-bytes.hex -a 1 -n "Option Bytes" firmware.dfu
  fwpack -b 0x08000000 firmware.bin
  fwpack -f hex -a 1 firmware.dfu option-bytes.hex
  fwpack -f dfu-plain -d 1209:5af0 firmware.hex
  fwpack -f uf2 --family 0x4D2F6A1E firmware.hex
  fwpack --info firmware.dfu
  fwpack --split --layout 0="@Internal Flash /0x08000000/04*016Kg,01*064Kg,07*128Kg" \
         --layout 1="@Option Bytes /0x1FFFC000/01*016 e" app.hex
  fwpack --info --json --layout 1="@Option Bytes /0x1FFFC000/01*016 e" app.dfu
  fwpack --compare -b 0x08000000 app.dfu readback.bin
  fwpack --info app.dfu --layout "@Internal Flash /0x08000000/04*016Kg,01*064Kg,07*128Kg" --map app.svg
)";
        return usage;
    }();
    return text.c_str();
}
