// The converter's command line: options in the usual forms (-d VALUE,
// --device VALUE, --device=VALUE) wherever they stand, "--" to end them, the
// inputs gathered into targets, and every check that needs no file.
#include "app/options.h"

#include <cstring>
#include <set>

#include "dfuse/dfu_format.h"
#include "util/hex_decode.h"
#include "image/image.h"
#include "util/text_format.h"

namespace {

// 1 to `max_digits` hexadecimal digits, with an optional 0x before them.
bool ParseHexDigits(std::string text, int max_digits, uint32_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    if (text.empty() || text.size() > static_cast<std::size_t>(max_digits)) return false;
    uint32_t result = 0;
    for (char c : text) {
        const int8_t digit = hex_decode::kHexValue[static_cast<unsigned char>(c)];
        if (digit < 0) return false;
        result = (result << 4) | static_cast<uint32_t>(digit);
    }
    value = result;
    return true;
}

InputFile Input(const std::string& path) { return InputFile{path, KindOfPath(path), std::nullopt}; }

enum class OptionId {
    kDevice,
    kRelease,
    kAlt,
    kName,
    kFormat,
    kInputFormat,
    kOutput,
    kBase,
    kAdd,
    kTarget,
    kInfo,
    kLayout,
    kSplit,
    kJson,
    kHelp,
    kVersion
};

struct KnownOption {
    char short_name;  // 0: none
    const char* long_name;
    bool takes_value;
    OptionId id;
};

constexpr KnownOption kKnownOptions[] = {
    {'d', "device", true, OptionId::kDevice},
    {'r', "release", true, OptionId::kRelease},
    {'a', "alt", true, OptionId::kAlt},
    {'n', "name", true, OptionId::kName},
    {'f', "format", true, OptionId::kFormat},
    {'b', "base", true, OptionId::kBase},
    {0, "add", true, OptionId::kAdd},
    {'t', "target", true, OptionId::kTarget},
    {'I', "input-format", true, OptionId::kInputFormat},
    {'o', "output", true, OptionId::kOutput},
    {0, "info", true, OptionId::kInfo},
    {0, "layout", true, OptionId::kLayout},
    {0, "split", false, OptionId::kSplit},
    {0, "json", false, OptionId::kJson},
    {'h', "help", false, OptionId::kHelp},
    {'V', "version", false, OptionId::kVersion},
};

const KnownOption* FindShort(char name) {
    for (const auto& known : kKnownOptions) {
        if (known.short_name != 0 && known.short_name == name) return &known;
    }
    return nullptr;
}

const KnownOption* FindLong(const std::string& name) {
    for (const auto& known : kKnownOptions) {
        if (name == known.long_name) return &known;
    }
    return nullptr;
}

class CommandLineParser {
public:
    ParsedCommandLine Parse(int argc, const char* const argv[]) {
        result_.options.no_arguments = argc < 2;
        bool options_ended = false;
        for (int i = 1; i < argc && result_.error.empty(); ++i) {
            const std::string arg = argv[i];
            if (options_ended || arg.empty() || arg[0] != '-' || arg == kStandardStream) {
                Positional(arg);
            } else if (arg == "--") {
                options_ended = true;
                result_.options.plain_form = false;
            } else {
                Option(arg, i, argc, argv);
            }
        }
        if (result_.error.empty() && !options().help && !options().version) Check();
        return std::move(result_);
    }

private:
    Options& options() { return result_.options; }
    TargetOptions& current() { return options().targets.back(); }

    void Error(std::string text) {
        if (result_.error.empty()) result_.error = std::move(text);
    }

    void Positional(const std::string& arg) {
        ++positionals_;
        if (positionals_ == 1) {
            // Before the inputs that --add gave to the first target.
            auto& inputs = options().targets.front().inputs;
            inputs.insert(inputs.begin(), Input(arg));
            first_input_ = true;
        } else if (positionals_ == 2) {
            options().output = arg;
        }
        // Arguments after the second have always been ignored.
    }

    void Option(const std::string& arg, int& i, int argc, const char* const argv[]) {
        result_.options.plain_form = false;
        const KnownOption* known = nullptr;
        std::string shown;  // the option as the user wrote it, for messages
        std::optional<std::string> value;
        if (arg.compare(0, 2, "--") == 0) {
            const std::size_t equals = arg.find('=');
            shown = arg.substr(0, equals);
            known = FindLong(shown.substr(2));
            if (known != nullptr && equals != std::string::npos) {
                if (!known->takes_value) return Error(Format("option '%s' takes no value", shown.c_str()));
                value = arg.substr(equals + 1);
            }
        } else {
            shown = arg.substr(0, 2);
            known = arg.size() >= 2 ? FindShort(arg[1]) : nullptr;
            if (known != nullptr && arg.size() > 2) {
                if (!known->takes_value)
                    known = nullptr;  // "-hx" is no option of ours
                else
                    value = arg.substr(2);
            }
            if (known == nullptr) shown = arg;
        }
        if (known == nullptr) return Error(Format("unknown option '%s'", shown.c_str()));
        if (known->takes_value && !value) {
            if (i + 1 >= argc) return Error(Format("option '%s' needs a value", shown.c_str()));
            value = argv[++i];
        }
        Apply(*known, shown, value.value_or(""));
    }

    void Apply(const KnownOption& known, const std::string& shown, const std::string& value) {
        const char* option = shown.c_str();
        const char* text = value.c_str();
        Options& o = options();
        switch (known.id) {
            case OptionId::kDevice: {
                uint16_t vendor = 0, product = 0;
                if (!ParseDeviceIds(value, vendor, product)) {
                    return Error(
                        Format("%s: '%s' is not VID:PID (1 to 4 hexadecimal digits each, as in "
                               "1209:5af0)",
                               option, text));
                }
                o.vendor = vendor;
                o.product = product;
                break;
            }
            case OptionId::kRelease: {
                uint16_t release = 0;
                if (!ParseHex16(value, release)) {
                    return Error(
                        Format("%s: '%s' is not a release number (1 to 4 hexadecimal digits, as "
                               "in 0100)",
                               option, text));
                }
                o.release = release;
                break;
            }
            case OptionId::kAlt: {
                uint8_t alternate = 0;
                if (!ParseAlternate(value, alternate)) {
                    return Error(Format("%s: '%s' is not an alternate setting (0 to 255)", option, text));
                }
                current().alternate = alternate;
                break;
            }
            case OptionId::kName:
                if (value.empty() || value.size() > CImage::kMaxNameLength) {
                    return Error(Format("%s: a target name has 1 to 255 bytes; this one has %llu", option,
                                        static_cast<unsigned long long>(value.size())));
                }
                current().name = value;
                break;
            case OptionId::kFormat:
                if (value == "dfu")
                    o.format = OutputFormat::kDfu;
                else if (value == "hex")
                    o.format = OutputFormat::kHex;
                else if (value == "srec")
                    o.format = OutputFormat::kSrec;
                else
                    return Error(Format("%s: '%s' is not an output format (dfu, hex or srec)", option, text));
                break;
            case OptionId::kBase: {
                uint32_t base = 0;
                if (!ParseAddress(value, base)) {
                    return Error(
                        Format("%s: '%s' is not an address (1 to 8 hexadecimal digits, as in "
                               "0x08000000)",
                               option, text));
                }
                current().bases.push_back(base);
                base_shown_.push_back(value);
                break;
            }
            case OptionId::kAdd: current().inputs.push_back(Input(value)); break;
            case OptionId::kTarget:
                o.targets.emplace_back();
                current().inputs.push_back(Input(value));
                break;
            case OptionId::kInputFormat: {
                const std::optional<FileKind> kind = ParseInputFormat(value);
                if (!kind) {
                    return Error(Format("%s: '%s' is not an input format (hex, srec, bin, dfu or elf)", option, text));
                }
                o.input_format = kind;
                break;
            }
            case OptionId::kOutput: o.exact_output = value; break;
            case OptionId::kInfo: o.info = value; break;
            case OptionId::kLayout: {
                PendingLayout pending;
                std::string problem;
                if (!ParseLayoutOption(value, pending.alternate, pending.memory, problem)) {
                    return Error(Format("%s: %s", option, problem.c_str()));
                }
                pending.target = o.targets.size() - 1;
                layouts_.push_back(std::move(pending));
                break;
            }
            case OptionId::kSplit: o.split = true; break;
            case OptionId::kJson: o.json = true; break;
            case OptionId::kHelp: o.help = true; break;
            case OptionId::kVersion: o.version = true; break;
        }
        if (known.id != OptionId::kInfo && known.id != OptionId::kBase && known.id != OptionId::kInputFormat &&
            known.id != OptionId::kLayout && known.id != OptionId::kJson && first_other_option_.empty()) {
            first_other_option_ = shown;
        }
        if ((known.id == OptionId::kName || known.id == OptionId::kAlt || known.id == OptionId::kTarget) &&
            split_conflict_.empty()) {
            split_conflict_ = shown;
        }
    }

    // The checks of the whole command line that need no file.
    void Check() {
        Options& o = options();
        if (o.info) return CheckInfo();
        if (!first_input_) return Error("no input file");
        if (o.json) return Error("--json lists what --info finds: it goes with --info only");
        if (o.split && !CheckSplit()) return;
        if (o.exact_output && o.output) {
            return Error(Format("-o %s names the output, so '%s' cannot name it too", o.exact_output->c_str(),
                                o.output->c_str()));
        }
        if (!ApplyInputFormat()) return;
        if (o.targets.front().inputs.front().path == kStandardStream && !o.output && !o.exact_output) {
            return Error("standard input (-) has no name to derive the output's from: name the output (-o FILE)");
        }
        if (o.targets.size() > dfu_format::kMaxTargets) {
            return Error(Format("%llu targets, but a DfuSe file holds at most 255",
                                static_cast<unsigned long long>(o.targets.size())));
        }
        if (o.format != OutputFormat::kDfu && o.targets.size() > 1) {
            return Error(Format("-f %s writes one target, but --target asks for %llu", FormatExtension(o.format),
                                static_cast<unsigned long long>(o.targets.size())));
        }
        std::size_t inputs = 0;
        for (const auto& target : o.targets) inputs += target.inputs.size();
        for (const auto& target : o.targets) {
            for (const auto& input : target.inputs) {
                if (input.kind == FileKind::kDfu && inputs > 1) {
                    return Error(
                        Format("the DfuSe input %s stands alone: it takes no --add or --target", input.path.c_str()));
                }
            }
        }
        CheckBases();
        if (o.targets.size() > 1) AssignAlternates();
        if (result_.error.empty()) ResolveLayouts();
    }

    // --split takes its targets from the layouts, so it needs them, and takes
    // no target options; its output holds several targets.
    bool CheckSplit() {
        const Options& o = options();
        if (layouts_.empty()) {
            Error(
                "--split puts each element into the target whose layout holds it: give the layouts "
                "(--layout ALT=TEXT)");
        } else if (!split_conflict_.empty()) {
            Error(
                Format("--split names the targets and gives their alternate settings from the layouts: %s does "
                       "not go with it",
                       split_conflict_.c_str()));
        } else if (o.format != OutputFormat::kDfu) {
            Error(Format("-f %s writes one target: --split does not go with it", FormatExtension(o.format)));
        }
        return result_.error.empty();
    }

    // A layout without ALT= belongs to the target that was opened last when
    // it was given (with --info: alternate setting 0); one per alternate setting.
    void ResolveLayouts() {
        Options& o = options();
        for (PendingLayout& pending : layouts_) {
            uint8_t alternate = 0;
            if (pending.alternate)
                alternate = *pending.alternate;
            else if (!o.info)
                alternate = o.targets[pending.target].alternate.value_or(0);
            if (!o.layouts.emplace(alternate, std::move(pending.memory)).second) {
                return Error(
                    Format("--layout: two layouts for alternate setting %u; each has one", unsigned{alternate}));
            }
        }
    }

    // --info takes its file and, for a raw binary, its load address; nothing else.
    void CheckInfo() {
        Options& o = options();
        std::string extra = first_other_option_;
        if (first_input_) extra = "'" + o.targets.front().inputs.front().path + "'";
        if (!extra.empty()) {
            return Error(Format("--info reads one file and writes nothing: %s does not go with it", extra.c_str()));
        }
        o.targets.front().inputs.push_back(Input(*o.info));
        if (ApplyInputFormat()) CheckBases();
        if (result_.error.empty()) ResolveLayouts();
    }

    // Inputs whose names say no kind take -I's; standard input has no name,
    // so it needs -I, and it can be read once only.
    bool ApplyInputFormat() {
        std::size_t standard_inputs = 0;
        for (auto& target : options().targets) {
            for (auto& input : target.inputs) {
                if (input.path == kStandardStream) {
                    if (!options().input_format) {
                        Error("standard input (-) has no name that tells its format: give it with -I FORMAT");
                        return false;
                    }
                    if (++standard_inputs > 1) {
                        Error("standard input (-) can be read only once");
                        return false;
                    }
                }
                if (input.kind == FileKind::kUnknown && options().input_format) input.kind = *options().input_format;
            }
        }
        return true;
    }

    // The k-th -b of a target is the load address of its k-th .bin input.
    void CheckBases() {
        std::size_t base_index = 0;
        for (auto& target : options().targets) {
            std::size_t bins = 0;
            for (auto& input : target.inputs) {
                if (input.kind != FileKind::kBin) continue;
                if (++bins > target.bases.size()) {
                    return Error(Format("%s: a raw binary input needs its load address (-b ADDR)", input.path.c_str()));
                }
                input.base = target.bases[bins - 1];
            }
            if (target.bases.size() > bins) {
                return Error(Format("-b %s: no raw binary (.bin) input of its target takes this load address",
                                    base_shown_[base_index + bins].c_str()));
            }
            base_index += target.bases.size();
        }
    }

    // Several targets each need their own alternate setting: one not given is
    // one more than the previous target's.
    void AssignAlternates() {
        std::set<unsigned> taken;
        unsigned next = 0;
        for (std::size_t t = 0; t < options().targets.size(); ++t) {
            TargetOptions& target = options().targets[t];
            const unsigned alternate = target.alternate ? *target.alternate : next;
            if (alternate > 255) {
                return Error(Format("target %llu (%s) would get alternate setting 256; give it one with -a",
                                    static_cast<unsigned long long>(t), target.inputs.front().path.c_str()));
            }
            if (!taken.insert(alternate).second) {
                return Error(Format("two targets have alternate setting %u; each needs its own (-a)", alternate));
            }
            target.alternate = static_cast<uint8_t>(alternate);
            next = alternate + 1;
        }
    }

    struct PendingLayout {
        std::optional<uint8_t> alternate;  // ALT=
        std::size_t target = 0;            // the target opened last when it was given
        layout::MemoryLayout memory;
    };

    ParsedCommandLine result_;
    std::vector<PendingLayout> layouts_;
    std::string split_conflict_;  // the first -n, -a or --target
    int positionals_ = 0;
    bool first_input_ = false;
    std::string first_other_option_;       // the first option that --info does not take
    std::vector<std::string> base_shown_;  // every -b value as typed, in order
};

}  // namespace

std::optional<FileKind> ParseInputFormat(const std::string& text) {
    if (text == "hex") return FileKind::kHex;
    if (text == "srec") return FileKind::kSrec;
    if (text == "bin") return FileKind::kBin;
    if (text == "dfu") return FileKind::kDfu;
    if (text == "elf") return FileKind::kElf;
    return std::nullopt;
}

bool ParseDeviceIds(const std::string& text, uint16_t& vendor, uint16_t& product) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    uint16_t v = 0, p = 0;
    if (!ParseHex16(text.substr(0, colon), v) || !ParseHex16(text.substr(colon + 1), p)) return false;
    vendor = v;
    product = p;
    return true;
}

bool ParseHex16(const std::string& text, uint16_t& value) {
    uint32_t parsed = 0;
    if (!ParseHexDigits(text, 4, parsed)) return false;
    value = static_cast<uint16_t>(parsed);
    return true;
}

bool ParseAddress(const std::string& text, uint32_t& value) { return ParseHexDigits(text, 8, value); }

bool ParseAlternate(const std::string& text, uint8_t& value) {
    if (text.empty() || text.size() > 3) return false;
    unsigned parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        parsed = parsed * 10 + unsigned(c - '0');
    }
    if (parsed > 255) return false;
    value = static_cast<uint8_t>(parsed);
    return true;
}

bool ParseLayoutOption(const std::string& value, std::optional<uint8_t>& alternate, layout::MemoryLayout& memory,
                       std::string& error) {
    std::size_t text_start = 0;
    const std::size_t equals = value.find('=');
    // The text itself starts with "@", a quote or "name=", so leading digits
    // and "=" can only be an alternate setting.
    if (equals != std::string::npos && equals > 0 && value.find_first_not_of("0123456789") == equals) {
        uint8_t parsed = 0;
        if (!ParseAlternate(value.substr(0, equals), parsed)) {
            error = Format("'%s' is not an alternate setting (0 to 255)", value.substr(0, equals).c_str());
            return false;
        }
        alternate = parsed;
        text_start = equals + 1;
    }
    return layout::ParseLayout(value.substr(text_start), memory, error, text_start);
}

ParsedCommandLine ParseCommandLine(int argc, const char* const argv[]) { return CommandLineParser().Parse(argc, argv); }

const char* UsageText() {
    return R"(Usage: fwpack [options] <input> [<output>]
       fwpack [options] <input> -o <file>
       fwpack --info <file> [-b ADDR] [-I FORMAT] [--layout TEXT]... [--json]
       fwpack --split --layout ALT=TEXT... [options] <input> [<output>]

Converts a firmware image into a DfuSe file, or into Intel HEX or S-records.
Inputs are read by their extension, in any case: .hex (Intel HEX), .srec
(Motorola S-records), .bin (raw binary, needs -b), .dfu (DfuSe), and .elf or
.axf (ELF: what a loader programs, each segment at its load address); -I
names the format of any other. Without <output>, the output is the input's
name with the output format's extension (fw.hex -> fw.dfu); a given <output>
gets that extension too; -o names it exactly. "-" is standard input or output.

Output:
  -d, --device VID:PID   vendor and product IDs of the DFU suffix, 1 to 4 hex
                         digits each, 0x optional (default 0483:0000; a .dfu
                         input keeps its own); ffff means any
  -r, --release BCD      device release number of the DFU suffix, 1 to 4 hex
                         digits (default 0000; a .dfu input keeps its own)
  -f, --format FORMAT    dfu, hex or srec (default dfu)
  -o, --output FILE      the output, named exactly (no extension is added or
                         replaced); - writes to standard output
  -I, --input-format FORMAT
                         hex, srec, bin, dfu or elf: the format of every input
                         whose extension is none of the above, and of - (the
                         standard input)

Target (each applies to the target opened last: the first one until a
--target opens another):
  -a, --alt N            alternate setting, 0 to 255 (default 0 for the first
                         target, one more than the previous one's for each
                         further target); of a .dfu input: the target to take
  -n, --name TEXT        target name, 1 to 255 bytes (default "ST...")
  -b, --base ADDR        load address of a .bin input, hex (0x optional); the
                         first -b of a target goes to its first .bin input,
                         the second to the second, and so on
      --add FILE         one more input in the same target; the elements of
                         all its inputs are ordered by address, and a byte
                         that two inputs both define is an error
  -t, --target FILE      opens one more target (at most 255), FILE its first
                         input

Memory layouts:
      --layout [ALT=]TEXT
                         the memory of alternate setting ALT as the device
                         reports it ("@Internal Flash /0x08000000/04*016Kg");
                         without ALT=, of the target opened last (with --info:
                         of alternate setting 0); repeatable. A conversion and
                         --info refuse a byte outside writeable memory
      --split            puts each element of the inputs into the target whose
                         layout holds it, named after the layout (not with -n,
                         -a or --target)

Other:
      --info FILE        lists and checks what FILE holds (.dfu, .hex, .srec,
                         .bin, .elf); writes nothing; exit 0 when it is sound
      --json             with --info: the listing as one JSON document
  -h, --help             this text
  -V, --version          the version
  --                     ends the options: later arguments are files

Examples:
  fwpack -d 1209:5af0 firmware.hex
  fwpack -d 1209:5af0 firmware.elf -o app-v1.2.3.dfu
  fwpack -I srec firmware.s19
  fwpack -d 1209:5af0 bootloader.hex --add application.hex firmware.dfu
  fwpack -d 1209:5af0 -n "Internal Flash" app.hex \
         --target option-bytes.hex -a 1 -n "Option Bytes" firmware.dfu
  fwpack -b 0x08000000 firmware.bin
  fwpack -f hex -a 1 firmware.dfu option-bytes.hex
  fwpack --info firmware.dfu
  fwpack --split --layout 0="@Internal Flash /0x08000000/04*016Kg,01*064Kg,07*128Kg" \
         --layout 1="@Option Bytes /0x1FFFC000/01*016 e" app.hex
  fwpack --info app.dfu --json --layout 1="@Option Bytes /0x1FFFC000/01*016 e"
)";
}
