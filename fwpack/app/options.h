// The converter's command line: options and their values, the inputs of each
// target, and the checks that need no file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "layout/layout.h"
#include "load/job.h"
#include "sys/paths.h"

// One target of the output: its inputs (the first, then those of --add),
// what the target options set, and the -b values in order, each of which
// goes to its .bin input.
struct TargetOptions : TargetJob {
    std::vector<uint32_t> bases;
};

struct Options {
    bool help = false;
    bool version = false;
    // True when nothing but the program name was given.
    bool no_arguments = false;
    // True when no option was given: the form `fwpack <original file> [<output file>]`,
    // whose messages stay as they have always been.
    bool plain_form = true;

    bool info = false;                     // --info: the file is the first argument
    std::optional<std::string> info_file;  // --info=FILE
    // targets[0] is the target of the first positional argument; each
    // --target opens one more.
    std::vector<TargetOptions> targets{1};
    std::optional<std::string> output;        // the second positional argument, as typed
    std::optional<std::string> exact_output;  // -o FILE: the output's name as it stands; "-" for standard output
    std::optional<FileKind> input_format;     // -I: the kind of every input whose name says none

    // --layout: the memory of each alternate setting, by alternate setting.
    std::map<uint8_t, layout::MemoryLayout> layouts;
    bool split = false;       // --split: the targets come from the layouts
    bool json = false;        // --json: the --info listing as JSON
    uint8_t pad_byte = 0xFF;  // --pad-byte: what fills the holes that are filled
    // --compare EXPECTED ACTUAL: the two files are targets[0]'s inputs.
    bool compare = false;
    std::optional<std::string> map;  // --map FILE: the picture of the memory, as SVG
    std::optional<uint32_t> family;  // --family: of the UF2 blocks written, and of those read
    // --overlap: where inputs of one target share bytes.
    OverlapMode overlap = OverlapMode::kRefuse;

    std::optional<uint16_t> vendor;
    std::optional<uint16_t> product;
    std::optional<uint16_t> release;
    OutputFormat format = OutputFormat::kDfu;
};

struct ParsedCommandLine {
    Options options;
    // Empty, or one line (without line end) that names the option and what is
    // wrong with it or with the combination.
    std::string error;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const argv[]);

// The text of --help.
const char* UsageText();

// The parsers of option values.
// An input format's name, in any case.
std::optional<FileKind> ParseInputFormat(const std::string& text);
bool ParseDeviceIds(const std::string& text, uint16_t& vendor, uint16_t& product);
bool ParseHex16(const std::string& text, uint16_t& value);
bool ParseAddress(const std::string& text, uint32_t& value);
bool ParseAlternate(const std::string& text, uint8_t& value);
// A --layout value, [ALT=]TEXT; false with the message (without the option's
// name) in `error`.
bool ParseLayoutOption(const std::string& value, std::optional<uint8_t>& alternate, layout::MemoryLayout& memory,
                       std::string& error);
