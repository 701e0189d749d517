// A conversion's job as the loader takes it, whatever gave it (the command
// line, a test, another program): the inputs of each target with what is
// known of them, and the format that the images will be written in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stage/stage_job.h"
#include "sys/file_kind.h"

enum class OutputFormat { kDfu, kHex, kSrec, kDfuPlain, kBin, kUf2 };

// The output extension of each format, without the dot.
const char* FormatExtension(OutputFormat format);
// The format's name as -f takes it.
const char* FormatName(OutputFormat format);
// Whether the format holds the bytes of one target without holes, so that
// its holes are filled (and the hole limit applies).
inline bool FillsHoles(OutputFormat format) {
    return format == OutputFormat::kDfuPlain || format == OutputFormat::kBin;
}

// What names standard input or standard output in the place of a file.
constexpr const char* kStandardStream = "-";

// An input file: its path, the kind of file it is read as, for a raw
// binary (or a plain DFU file) its load address.
struct InputFile {
    std::string path;
    FileKind kind = FileKind::kUnknown;
    std::optional<uint32_t> base;
    // For a UF2 file: the family whose blocks are read (--family).
    std::optional<uint32_t> family = std::nullopt;
};

// One target: its inputs, merged in address order, and what sets it apart.
struct TargetJob {
    std::vector<InputFile> inputs;  // the first input, then the others
    std::optional<uint8_t> alternate;
    std::optional<std::string> name;
    // What the image stage does to the target once its inputs are merged.
    StageJob stage;
};

struct LoadJob {
    std::vector<TargetJob> targets;
    OutputFormat format = OutputFormat::kDfu;
    // The name of a target that names none (a DfuSe input keeps its own).
    std::string default_name;
    // Where two inputs of a target give one address a byte.
    OverlapMode overlap = OverlapMode::kRefuse;
};
