// fwpack: converts a firmware image (Intel HEX, Motorola S-records, a raw
// binary or a DfuSe file) into a DfuSe file, or into Intel HEX or S-records.
// This is the driver: command line, output name, defaults, the sequence load,
// build, write, report, and the exit status.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "dfu_file.h"
#include "formats.h"
#include "image.h"
#include "info.h"
#include "inputs.h"
#include "layout_check.h"
#include "options.h"
#include "output_file.h"
#include "paths.h"
#include "platform.h"

#ifndef FWPACK_VERSION
#define FWPACK_VERSION "unknown"
#endif

namespace {

// The values that go into every DfuSe file besides the firmware unless the
// command line gives others, kept as text: the output extension, the device
// release number, the vendor and product identifiers (hexadecimal), and the
// target name.
constexpr const char* kDefaults[] = {"dfu", "0000", "0483", "0000", "ST..."};
enum DefaultEntry { kExtension, kDevice, kVendor, kProduct, kTargetName };

uint16_t HexDefault(DefaultEntry entry) { return static_cast<uint16_t>(std::strtoul(kDefaults[entry], nullptr, 16)); }

// How a run ends: the lines for standard error and the exit status. Every
// outcome of a conversion is one of these, printed in one place.
struct Outcome {
    std::string message;
    int status;
};

Outcome Success(const std::string& input) { return {"fwpack success for [" + input + "] !\n", 0}; }
Outcome ConversionFailure(const std::string& input) { return {"fwpack Failure for [" + input + "] !\n", 1}; }
Outcome OutputError(const std::string& shown) { return {"fwpack output file error [" + shown + "] !\n", 1}; }

// Whether `output` names the file `input`: the same path, or another path to
// the same file (a link, another spelling).
bool SameFile(const std::string& input, const std::string& output) {
    const std::filesystem::path in = platform::FsPath(input);
    const std::filesystem::path out = platform::FsPath(output);
    if (in.lexically_normal() == out.lexically_normal()) return true;
    std::error_code error;
    return std::filesystem::equivalent(in, out, error) && !error;
}

struct OutputTarget {
    std::string name;              // the file written
    std::string shown;             // how an output error names it: the argument as typed, else the derived name
    bool standard_output = false;  // -o -
};

Outcome WriteDfu(const Options& options, const LoadedTargets& loaded, const OutputTarget& output,
                 const std::string& first_input) {
    DeviceIdentity identity{HexDefault(kVendor), HexDefault(kProduct), HexDefault(kDevice)};
    if (loaded.identity) identity = *loaded.identity;
    const uint16_t vendor = options.vendor.value_or(identity.vendor);
    const uint16_t product = options.product.value_or(identity.product);
    const uint16_t release = options.release.value_or(identity.release);
    CDFUFile dfu = output.standard_output ? CDFUFile(platform::StandardStream(true, true), vendor, product, release)
                                          : CDFUFile(output.name.c_str(), vendor, product, release);
    if (dfu.GetStatus() != STATUS_SUCCESS) return OutputError(output.shown);
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
    if (dfu.Close() != STATUS_SUCCESS) return OutputError(output.shown);
    return Success(first_input);
}

Outcome WriteRecords(const Options& options, const CImage& image, const OutputTarget& output,
                     const std::string& first_input) {
    bool written = false;
    if (output.standard_output) {
        TextOutput text(platform::StandardStream(true, false));
        written = options.format == OutputFormat::kHex ? WriteHex(text, image.GetList(), true)
                                                       : WriteSRec(text, image.GetList());
    } else {
        written = options.format == OutputFormat::kHex ? image.SaveHex(output.name.c_str(), true)
                                                       : image.SaveSRec(output.name.c_str());
    }
    return written ? Success(first_input) : OutputError(output.shown);
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
                return {"fwpack: the output " + output.name + " is the input " + input.path +
                            "; writing it would destroy the input\n",
                        1};
            }
        }
    }

    // The inputs are loaded before the output is opened, so that an input that
    // cannot be read leaves any existing output file untouched.
    LoadedTargets loaded;
    std::string error;
    if (!LoadTargets(options, kDefaults[kTargetName], loaded, error)) return {error, 1};
    // The layouts are checked before the output is opened, too.
    std::string warnings;
    if (!options.layouts.empty()) {
        if (options.split && !layout::SplitByLayouts(loaded.images, options.layouts, error)) return {error, 1};
        if (!layout::CheckImages(loaded.images, options.layouts, warnings, error)) return {warnings + error, 1};
    }
    Outcome outcome = options.format == OutputFormat::kDfu
                          ? WriteDfu(options, loaded, output, first_input)
                          : WriteRecords(options, *loaded.images.front(), output, first_input);
    outcome.message = warnings + outcome.message;
    return outcome;
}

int Run(int argc, char* argv[]) {
    std::string argument_error;
    const std::vector<std::string> args = platform::Arguments(argc, argv, argument_error);
    if (!argument_error.empty()) {
        platform::WriteText(stderr, "fwpack: " + argument_error + "\n");
        return 1;
    }
    // The parser takes the form of main's own arguments, the program's name first.
    std::vector<const char*> arg_pointers{"fwpack"};
    for (const std::string& arg : args) arg_pointers.push_back(arg.c_str());
    const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(arg_pointers.size()), arg_pointers.data());
    const Options& options = parsed.options;
    if (options.no_arguments) {
        platform::WriteText(stderr, "fwpack [original file] [output file] !\n");
        return 1;
    }
    if (!parsed.error.empty()) {
        platform::WriteText(stderr, "fwpack: " + parsed.error + "\nTry 'fwpack --help' for more information.\n");
        return 1;
    }
    if (options.help) {
        platform::WriteText(stdout, UsageText());
        return 0;
    }
    if (options.version) {
        platform::WriteText(stdout, "fwpack " FWPACK_VERSION "\n");
        return 0;
    }
    if (options.info) {
        // The listing comes in pieces of whole lines, printed as they are made;
        // what follows it, or the JSON document, comes with the result.
        const InfoResult info = RunInfo(
            options.targets.front().inputs.front(),
            [](const char* text, std::size_t length) { platform::WriteText(stdout, std::string_view(text, length)); },
            options.layouts, options.json);
        platform::WriteText(stdout, info.listing);
        if (info.error.empty()) return 0;
        // The listing stands before the problem, wherever both streams go.
        std::fflush(stdout);
        platform::WriteText(stderr, info.error);
        return 1;
    }
    const Outcome outcome = Convert(options);
    platform::WriteText(stderr, outcome.message);
    return outcome.status;
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::IgnoreFileSizeSignal();
    // Loading names the input where memory runs out; anywhere else, this says it.
    try {
        return CheckStandardOutput(Run(argc, argv));
    } catch (const std::bad_alloc&) {
        std::fputs("fwpack: memory ran out\n", stderr);
        return 1;
    }
}
