// The conversion's sequence: name the output, load, check against the
// layouts, build and write, and say how it ended.
#include "app/convert.h"

#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "dfuse/defaults.h"
#include "dfuse/dfu_file.h"
#include "dfuse/plain_dfu.h"
#include "formats/bin_writer.h"
#include "formats/hex_writer.h"
#include "formats/srec_writer.h"
#include "formats/uf2_writer.h"
#include "image/image.h"
#include "info/memory_map.h"
#include "layout/layout_check.h"
#include "load/loader.h"
#include "stage/hole_limit.h"
#include "sys/open_cause.h"
#include "sys/output_file.h"
#include "sys/paths.h"
#include "sys/platform.h"

namespace {

Outcome Success(const std::string& input) { return {{}, {}, "fwpack success for [" + input + "] !", 0}; }
Outcome ConversionFailure(const std::string& input) { return {{}, {}, "fwpack Failure for [" + input + "] !", 1}; }

struct OutputTarget {
    std::string name;              // the file written
    std::string shown;             // how an output error names it: the argument as typed, else the derived name
    bool standard_output = false;  // -o -
};

// The output that could not be opened or written, and why when it can be told.
Outcome OutputError(const OutputTarget& output, int error_number) {
    Outcome outcome{{}, {}, "fwpack output file error [" + output.shown + "] !", 1};
    const std::string cause = output.standard_output ? std::string() : WriteFailureCause(output.name, error_number);
    if (!cause.empty()) outcome.error = Error::CannotOpen(output.shown, cause);
    return outcome;
}

// Whether `output` names the file `input`: the same path, or another path to
// the same file (a link, another spelling).
bool SameFile(const std::string& input, const std::string& output) {
    const std::filesystem::path in = platform::FsPath(input);
    const std::filesystem::path out = platform::FsPath(output);
    if (in.lexically_normal() == out.lexically_normal()) return true;
    std::error_code error;
    return std::filesystem::equivalent(in, out, error) && !error;
}

Outcome WriteDfu(const Options& options, const LoadedTargets& loaded, const OutputTarget& output,
                 const std::string& first_input) {
    const DeviceIdentity identity = loaded.identity.value_or(DefaultIdentity());
    const uint16_t vendor = options.vendor.value_or(identity.vendor);
    const uint16_t product = options.product.value_or(identity.product);
    const uint16_t release = options.release.value_or(identity.release);
    errno = 0;
    CDFUFile dfu = output.standard_output ? CDFUFile(platform::StandardStream(true, true), vendor, product, release)
                                          : CDFUFile(output.name.c_str(), vendor, product, release);
    if (dfu.GetStatus() != STATUS_SUCCESS) return OutputError(output, errno);
    try {
        for (const auto& image : loaded.images) {
            if (dfu.AddTarget(*image) != STATUS_SUCCESS) {
                // A file without the image would only mislead whoever picks it up.
                dfu.Discard();
                return ConversionFailure(first_input);
            }
        }
    } catch (const std::bad_alloc&) {
        // Else the builder would complete the file on its way out.
        dfu.Discard();
        throw;
    }
    // The file is complete on disk before success is reported.
    errno = 0;
    if (dfu.Close() != STATUS_SUCCESS) return OutputError(output, errno);
    return Success(first_input);
}

Outcome WriteRecords(const Options& options, const CImage& image, const OutputTarget& output,
                     const std::string& first_input) {
    bool written = false;
    errno = 0;
    if (output.standard_output) {
        TextOutput text(platform::StandardStream(true, false));
        written = options.format == OutputFormat::kHex ? WriteHex(text, image.GetList(), true)
                                                       : WriteSRec(text, image.GetList());
    } else {
        written = options.format == OutputFormat::kHex ? image.SaveHex(output.name.c_str(), true)
                                                       : image.SaveSRec(output.name.c_str());
    }
    return written ? Success(first_input) : OutputError(output, errno);
}

// The formats of bytes, each written whole into a binary output that
// replaces its file only once it is complete.
Outcome WriteBytes(const Options& options, const LoadedTargets& loaded, const OutputTarget& output,
                   const std::string& first_input) {
    const ElementList& list = loaded.images.front()->GetList();
    errno = 0;
    BinaryOutput file =
        output.standard_output ? BinaryOutput(platform::StandardStream(true, true)) : BinaryOutput(output.name.c_str());
    bool written = false;
    switch (options.format) {
        case OutputFormat::kBin: written = WriteBin(file, list, options.pad_byte); break;
        case OutputFormat::kUf2: written = WriteUf2(file, list, options.pad_byte, options.family); break;
        default: {
            // A DfuSe input keeps its own IDs; else any device, unless -d and -r say.
            const DeviceIdentity identity = loaded.identity.value_or(AnyDeviceIdentity());
            written =
                WritePlainDfu(file, list, options.pad_byte,
                              {options.vendor.value_or(identity.vendor), options.product.value_or(identity.product),
                               options.release.value_or(identity.release)});
        }
    }
    return written ? Success(first_input) : OutputError(output, errno);
}

Outcome Failed(Error error) {
    Outcome outcome;
    outcome.error = std::move(error);
    outcome.status = 1;
    return outcome;
}

}  // namespace

Error MapConflict(const Options& options, const std::string* output) {
    if (!options.map) return {};
    for (const auto& target : options.targets) {
        for (const auto& input : target.inputs) {
            if (input.path != kStandardStream && SameFile(input.path, *options.map)) {
                return Error::Problem("", "the map " + *options.map + " is the input " + input.path +
                                              "; writing it would destroy the input");
            }
        }
    }
    if (output && SameFile(*output, *options.map)) {
        return Error::Problem(
            "", "the map " + *options.map + " is the output " + *output + "; give the picture a name of its own");
    }
    return {};
}

Error WriteMap(const std::string& path, const InfoReport& report, const std::string& name) {
    errno = 0;
    if (WriteMemoryMap(path, MemoryMapSvg(report, name))) return {};
    const std::string cause = WriteFailureCause(path, errno);
    return Error::CannotOpen(path, "cannot write the map" + (cause.empty() ? std::string() : ": " + cause));
}

void StageOptionsOfRun(const Options& options, StageJob& stage) {
    stage.pad_byte = options.pad_byte;
    if (stage.pad_pages) {
        stage.layouts = options.layouts;
        stage.pages_of_every_layout = options.split;
    }
}

LoadJob JobOf(const Options& options) {
    LoadJob job;
    job.targets.assign(options.targets.begin(), options.targets.end());
    job.format = options.format;
    job.default_name = kDefaults[kTargetName];
    job.overlap = options.overlap;
    for (TargetJob& target : job.targets) StageOptionsOfRun(options, target.stage);
    return job;
}

Outcome Convert(const Options& options) {
    const std::string& first_input = options.targets.front().inputs.front().path;
    const char* extension =
        options.format == OutputFormat::kDfu ? kDefaults[kExtension] : FormatExtension(options.format);
    OutputTarget output;
    if (options.exact_output) {
        output.name = *options.exact_output;
        output.standard_output = output.name == kStandardStream;
    } else {
        output.name = OutputName(options.output ? *options.output : first_input, extension);
    }
    output.shown = options.exact_output ? *options.exact_output : options.output ? *options.output : output.name;
    // Refused before anything is read or written: the input would be lost.
    // Standard input and output are no files of the command line's.
    for (const auto& target : options.targets) {
        for (const auto& input : target.inputs) {
            if (!output.standard_output && input.path != kStandardStream && SameFile(input.path, output.name)) {
                return Failed(Error::Problem("", "the output " + output.name + " is the input " + input.path +
                                                     "; writing it would destroy the input"));
            }
        }
    }

    Error conflict = MapConflict(options, output.standard_output ? nullptr : &output.name);
    if (conflict.kind != Error::Kind::kNone) return Failed(std::move(conflict));

    // The inputs are loaded before the output is opened, so that an input that
    // cannot be read leaves any existing output file untouched.
    LoadedTargets loaded;
    Error error;
    if (!LoadTargets(JobOf(options), loaded, error)) return Failed(std::move(error));
    // The layouts are checked before the output is opened, too.
    std::vector<std::string> warnings;
    if (!options.layouts.empty()) {
        if (options.split && !layout::SplitByLayouts(loaded.images, options.layouts, error)) {
            return Failed(std::move(error));
        }
        if (!layout::CheckImages(loaded.images, options.layouts, warnings, error)) {
            Outcome outcome = Failed(std::move(error));
            outcome.warnings = std::move(warnings);
            return outcome;
        }
    }
    // Checked before the output is opened, so that nothing is written.
    if (FillsHoles(options.format)) {
        const std::string what = std::string("-f ") + FormatName(options.format);
        if (auto refusal = HoleLimitError(loaded.images.front()->GetList(), first_input, what.c_str())) {
            Outcome outcome = Failed(std::move(*refusal));
            outcome.warnings = std::move(warnings);
            return outcome;
        }
    }
    Outcome outcome;
    switch (options.format) {
        case OutputFormat::kDfu: outcome = WriteDfu(options, loaded, output, first_input); break;
        case OutputFormat::kHex:
        case OutputFormat::kSrec: outcome = WriteRecords(options, *loaded.images.front(), output, first_input); break;
        case OutputFormat::kDfuPlain:
        case OutputFormat::kBin:
        case OutputFormat::kUf2: outcome = WriteBytes(options, loaded, output, first_input); break;
    }
    outcome.warnings = std::move(warnings);
    if (outcome.status == 0 && options.map) {
        // What was written, as it was written.
        Error error_of_map =
            WriteMap(*options.map, ReportOfImages(output.shown, loaded.images, options.layouts), output.shown);
        if (error_of_map.kind != Error::Kind::kNone) {
            outcome.error = std::move(error_of_map);
            outcome.error.cause += " (the output " + output.shown + " was written)";
            outcome.line.clear();
            outcome.status = 1;
        }
    }
    return outcome;
}
