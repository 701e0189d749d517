// The converter's command line: options in the usual forms (-d VALUE,
// --device VALUE, --device=VALUE) wherever they stand, "--" to end them, the
// inputs gathered into targets, and every check that needs no file. The
// options themselves are the rows of the option table.
#include "app/options.h"

#include <set>

#include "app/option_table.h"
#include "dfuse/dfu_format.h"
#include "util/hex_decode.h"
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

class CommandLineParser {
public:
    ParsedCommandLine Parse(int argc, const char* const argv[]) {
        state_.options().no_arguments = argc < 2;
        bool options_ended = false;
        for (int i = 1; i < argc && state_.result.error.empty(); ++i) {
            const std::string arg = argv[i];
            if (options_ended || arg.empty() || arg[0] != '-' || arg == kStandardStream) {
                Positional(arg);
            } else if (arg == "--") {
                options_ended = true;
                state_.options().plain_form = false;
            } else {
                Option(arg, i, argc, argv);
            }
        }
        if (state_.result.error.empty() && !state_.options().help && !state_.options().version) Check();
        return std::move(state_.result);
    }

private:
    void Positional(const std::string& arg) {
        ++positionals_;
        if (positionals_ == 1) {
            // Before the inputs that --add gave to the first target.
            auto& inputs = state_.options().targets.front().inputs;
            inputs.insert(inputs.begin(), Input(arg));
            first_input_ = true;
        } else if (positionals_ == 2) {
            state_.options().output = arg;
        } else if (positionals_ == 3) {
            third_positional_ = arg;
        }
        // Arguments after the second have always been ignored.
    }

    // The row of `arg`, an option of one dash or two, with its value when it
    // is written into the same argument; null with the error set.
    const OptionRow* Find(const std::string& arg, std::string& shown, std::optional<std::string>& value) {
        const OptionRow* row = nullptr;
        if (arg.compare(0, 2, "--") == 0) {
            const std::size_t equals = arg.find('=');
            shown = arg.substr(0, equals);
            row = FindLongOption(shown.substr(2));
            if (row == nullptr) {
                const OptionRow* nearest = NearestLongOption(shown.substr(2));
                state_.Error(
                    nearest ? Format("unknown option '%s' (did you mean '--%s'?)", shown.c_str(), nearest->long_name)
                            : Format("unknown option '%s'", shown.c_str()));
                return nullptr;
            }
            if (equals != std::string::npos) {
                if ((row->flags & (kTakesValue | kValueAfterEquals)) == 0) {
                    state_.Error(Format("option '%s' takes no value", shown.c_str()));
                    return nullptr;
                }
                value = arg.substr(equals + 1);
            }
            return row;
        }
        // "-device" is a long option with one dash too few, not -d with "evice".
        const std::string name = arg.substr(1, arg.find('=') - 1);
        if (name.size() > 1 && FindLongOption(name)) {
            state_.Error(Format("unknown option '%s': long options take two dashes ('-%s')",
                                arg.substr(0, arg.find('=')).c_str(), arg.substr(0, arg.find('=')).c_str()));
            return nullptr;
        }
        shown = arg.substr(0, 2);
        row = arg.size() >= 2 ? FindShortOption(arg[1]) : nullptr;
        if (row != nullptr && arg.size() > 2) {
            if ((row->flags & kTakesValue) == 0)
                row = nullptr;  // "-hx" is no option of ours
            else
                value = arg.substr(2);
        }
        if (row == nullptr) state_.Error(Format("unknown option '%s'", arg.c_str()));
        return row;
    }

    void Option(const std::string& arg, int& i, int argc, const char* const argv[]) {
        state_.options().plain_form = false;
        std::string shown;  // the option as the user wrote it, for messages
        std::optional<std::string> value;
        const OptionRow* row = Find(arg, shown, value);
        if (row == nullptr) return;
        if ((row->flags & kTakesValue) != 0 && !value) {
            if (i + 1 >= argc) return state_.Error(Format("option '%s' needs a value", shown.c_str()));
            value = argv[++i];
        }
        row->handler(state_, shown, value.value_or(""));
        if ((row->flags & kWithInfo) == 0 && first_other_option_.empty()) first_other_option_ = shown;
        if ((row->flags & kWithCompare) == 0 && first_non_compare_option_.empty()) first_non_compare_option_ = shown;
        if ((row->flags & kNamesTarget) != 0 && split_conflict_.empty()) split_conflict_ = shown;
    }

    // The checks of the whole command line that need no file.
    void Check() {
        Options& o = state_.options();
        if (o.compare) return CheckCompare();
        if (o.info) return CheckInfo();
        if (!first_input_) return state_.Error("no input file");
        if (o.json) return state_.Error("--json lists what --info finds: it goes with --info only");
        if (o.split && !CheckSplit()) return;
        if (o.exact_output && o.output) {
            return state_.Error(Format("-o %s names the output, so '%s' cannot name it too", o.exact_output->c_str(),
                                       o.output->c_str()));
        }
        if (!ApplyInputFormat()) return;
        if (o.targets.front().inputs.front().path == kStandardStream && !o.output && !o.exact_output) {
            return state_.Error(
                "standard input (-) has no name to derive the output's from: name the output (-o FILE)");
        }
        if (o.targets.size() > dfu_format::kMaxTargets) {
            return state_.Error(Format("%llu targets, but a DfuSe file holds at most 255",
                                       static_cast<unsigned long long>(o.targets.size())));
        }
        if (o.format != OutputFormat::kDfu && o.targets.size() > 1) {
            return state_.Error(Format("-f %s writes one target, but --target asks for %llu", FormatName(o.format),
                                       static_cast<unsigned long long>(o.targets.size())));
        }
        std::size_t inputs = 0;
        for (const auto& target : o.targets) inputs += target.inputs.size();
        for (const auto& target : o.targets) {
            for (const auto& input : target.inputs) {
                if (input.kind == FileKind::kDfu && inputs > 1) {
                    return state_.Error(
                        Format("the DfuSe input %s stands alone: it takes no --add or --target", input.path.c_str()));
                }
            }
        }
        CheckBases();
        if (state_.result.error.empty()) CheckFamily();
        if (o.targets.size() > 1) AssignAlternates();
        if (state_.result.error.empty()) ResolveLayouts();
        if (state_.result.error.empty()) CheckPadPages();
    }

    // --pad-pages takes its pages from a layout.
    void CheckPadPages() {
        for (const auto& target : state_.options().targets) {
            if (target.stage.pad_pages && state_.layouts.empty()) {
                return state_.Error(
                    "--pad-pages grows each element to the pages it touches: give the target's layout (--layout)");
            }
        }
    }

    // --split takes its targets from the layouts, so it needs them, and takes
    // no target options; its output holds several targets.
    bool CheckSplit() {
        const Options& o = state_.options();
        if (state_.layouts.empty()) {
            state_.Error(
                "--split puts each element into the target whose layout holds it: give the layouts "
                "(--layout ALT=TEXT)");
        } else if (!split_conflict_.empty()) {
            state_.Error(
                Format("--split names the targets and gives their alternate settings from the layouts: %s does "
                       "not go with it",
                       split_conflict_.c_str()));
        } else if (o.format != OutputFormat::kDfu) {
            state_.Error(Format("-f %s writes one target: --split does not go with it", FormatName(o.format)));
        }
        return state_.result.error.empty();
    }

    // A layout without ALT= belongs to the target that was opened last when
    // it was given (with --info: alternate setting 0); one per alternate setting.
    void ResolveLayouts() {
        Options& o = state_.options();
        for (CommandLineState::PendingLayout& pending : state_.layouts) {
            uint8_t alternate = 0;
            if (pending.alternate)
                alternate = *pending.alternate;
            else if (!o.info)
                alternate = o.targets[pending.target].alternate.value_or(0);
            if (!o.layouts.emplace(alternate, std::move(pending.memory)).second) {
                return state_.Error(
                    Format("--layout: two layouts for alternate setting %u; each has one", unsigned{alternate}));
            }
        }
    }

    // --info takes its file and, for a raw binary, its load address; nothing else.
    void CheckInfo() {
        Options& o = state_.options();
        std::vector<InputFile>& inputs = o.targets.front().inputs;
        std::string extra = first_other_option_;
        if (o.info_file) {
            if (first_input_) extra = "'" + inputs.front().path + "'";
            inputs.insert(inputs.begin(), Input(*o.info_file));
        } else if (o.output) {
            extra = "'" + *o.output + "'";
        }
        if (!extra.empty()) {
            return state_.Error(
                Format("--info reads one file and writes nothing: %s does not go with it", extra.c_str()));
        }
        if (inputs.empty()) return state_.Error("--info needs a file to list");
        if (ApplyInputFormat()) CheckBases();
        if (state_.result.error.empty()) CheckFamily();
        if (state_.result.error.empty()) ResolveLayouts();
        if (state_.result.error.empty()) CheckPadPages();
    }

    // --compare takes two files, EXPECTED then ACTUAL, into the one target
    // whose -b values go to its .bin inputs in order; and -I, -a and --json.
    void CheckCompare() {
        Options& o = state_.options();
        if (o.info) return state_.Error("--compare and --info are two modes: give one of them");
        if (!first_non_compare_option_.empty()) {
            return state_.Error(Format("--compare reads two files and writes nothing: %s does not go with it",
                                       first_non_compare_option_.c_str()));
        }
        if (positionals_ < 2) {
            return state_.Error("--compare needs two files: the one expected, then the one found (the readback)");
        }
        if (positionals_ > 2) {
            return state_.Error(Format("--compare takes two files: '%s' is a third", third_positional_.c_str()));
        }
        o.targets.front().inputs.push_back(Input(*o.output));
        o.output.reset();
        if (ApplyInputFormat()) CheckBases();
    }

    // --family stamps the blocks of a UF2 output and chooses those of a UF2
    // input: without either it would do nothing.
    void CheckFamily() {
        Options& o = state_.options();
        if (!o.family) return;
        bool uf2_input = false;
        for (auto& target : o.targets) {
            for (auto& input : target.inputs) {
                input.family = o.family;
                uf2_input = uf2_input || input.kind == FileKind::kUf2;
            }
        }
        if (!uf2_input && (o.info || o.format != OutputFormat::kUf2)) {
            state_.Error(
                "--family stamps the blocks of -f uf2 and chooses those of a UF2 input: there is neither here");
        }
    }

    // Inputs whose names say no kind take -I's; standard input has no name,
    // so it needs -I, and it can be read once only.
    bool ApplyInputFormat() {
        std::size_t standard_inputs = 0;
        for (auto& target : state_.options().targets) {
            for (auto& input : target.inputs) {
                if (input.path == kStandardStream) {
                    if (!state_.options().input_format) {
                        state_.Error("standard input (-) has no name that tells its format: give it with -I FORMAT");
                        return false;
                    }
                    if (++standard_inputs > 1) {
                        state_.Error("standard input (-) can be read only once");
                        return false;
                    }
                }
                if (input.kind == FileKind::kUnknown && state_.options().input_format)
                    input.kind = *state_.options().input_format;
            }
        }
        return true;
    }

    // The k-th -b of a target is the load address of its k-th .bin input. A
    // .dfu input, which stands alone, takes one too: a plain DFU file needs
    // it, and a DfuSe file refuses it once it is read.
    void CheckBases() {
        std::size_t base_index = 0;
        for (auto& target : state_.options().targets) {
            // A .dfu input takes a -b (as a plain DFU file) only where there
            // are more of them than .bin inputs, which need theirs.
            std::size_t raw = 0;
            for (const auto& input : target.inputs) raw += input.kind == FileKind::kBin ? 1 : 0;
            std::size_t spare = target.bases.size() > raw ? target.bases.size() - raw : 0;
            std::size_t bins = 0;
            for (auto& input : target.inputs) {
                bool takes_base = input.kind == FileKind::kBin;
                if (input.kind == FileKind::kDfu && spare > 0) {
                    takes_base = true;
                    --spare;
                }
                if (!takes_base) continue;
                if (++bins > target.bases.size()) {
                    return state_.Error(
                        Format("%s: a raw binary input needs its load address (-b ADDR)", input.path.c_str()));
                }
                input.base = target.bases[bins - 1];
            }
            if (target.bases.size() > bins) {
                return state_.Error(Format("-b %s: no raw binary (.bin) input of its target takes this load address%s",
                                           state_.base_shown[base_index + bins].c_str(),
                                           LaterBinHint(&target).c_str()));
            }
            base_index += target.bases.size();
        }
    }

    // Where a -b given too early would belong: the first later target with a
    // .bin that no -b reaches, which takes -b after its --target.
    std::string LaterBinHint(const TargetOptions* target) {
        const std::vector<TargetOptions>& targets = state_.options().targets;
        for (auto later = targets.begin() + (target - targets.data()) + 1; later != targets.end(); ++later) {
            std::size_t bins = 0;
            for (const InputFile& input : later->inputs) {
                if (input.kind == FileKind::kBin && ++bins > later->bases.size()) {
                    return Format("; -b applies to the target opened last: for %s, give it after '--target %s'",
                                  input.path.c_str(), later->inputs.front().path.c_str());
                }
            }
        }
        return "";
    }

    // Several targets each need their own alternate setting: one not given is
    // one more than the previous target's.
    void AssignAlternates() {
        std::set<unsigned> taken;
        unsigned next = 0;
        for (std::size_t t = 0; t < state_.options().targets.size(); ++t) {
            TargetOptions& target = state_.options().targets[t];
            const unsigned alternate = target.alternate ? *target.alternate : next;
            if (alternate > 255) {
                return state_.Error(Format("target %llu (%s) would get alternate setting 256; give it one with -a",
                                           static_cast<unsigned long long>(t), target.inputs.front().path.c_str()));
            }
            if (!taken.insert(alternate).second) {
                return state_.Error(
                    Format("two targets have alternate setting %u; each needs its own (-a)", alternate));
            }
            target.alternate = static_cast<uint8_t>(alternate);
            next = alternate + 1;
        }
    }

    CommandLineState state_;
    std::string split_conflict_;  // the first -n, -a or --target
    int positionals_ = 0;
    bool first_input_ = false;
    std::string first_other_option_;        // the first option that --info does not take
    std::string first_non_compare_option_;  // the first option that --compare does not take
    std::string third_positional_;
};

}  // namespace

std::optional<FileKind> ParseInputFormat(const std::string& value) {
    std::string text = value;
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (text == "hex") return FileKind::kHex;
    if (text == "srec") return FileKind::kSrec;
    if (text == "bin") return FileKind::kBin;
    if (text == "dfu") return FileKind::kDfu;
    if (text == "elf") return FileKind::kElf;
    if (text == "uf2") return FileKind::kUf2;
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
