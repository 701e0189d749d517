// fwpack: converts a firmware image (Intel HEX, Motorola S-records, a raw
// binary or a DfuSe file) into a DfuSe file, or into Intel HEX or S-records.
// This is the driver: command line, output name, defaults, the sequence load,
// build, write, report, and the exit status.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "dfu_file.h"
#include "image.h"
#include "info.h"
#include "inputs.h"
#include "options.h"

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

// The output name: within the final path component, the first "." and
// everything after it become "." and the output extension; a component
// without "." gets them appended. Directories are kept as they are.
std::string OutputName(const std::string& path, const char* extension) {
    std::size_t component = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/' || c == '\\' || (c == ':' && i == 1)) component = i + 1;
    }
    const std::size_t dot = path.find('.', component);
    return path.substr(0, dot) + "." + extension;
}

// Prints the run's one outcome line and gives the exit status that goes with it.
int Report(const char* format, const std::string& argument, int status) {
    std::fprintf(stderr, format, argument.c_str());
    return status;
}

// Whether `output` names the file `input`: the same path, or another path to
// the same file (a link, another spelling).
bool SameFile(const std::string& input, const std::string& output) {
    namespace fs = std::filesystem;
    if (fs::path(input).lexically_normal() == fs::path(output).lexically_normal()) return true;
    std::error_code error;
    return fs::equivalent(input, output, error) && !error;
}

struct OutputTarget {
    std::string name;   // the file written
    std::string shown;  // how an output error names it: the argument as typed, else the derived name
};

int WriteDfu(const Options& options, const LoadedTargets& loaded, const OutputTarget& output,
             const std::string& first_input) {
    DeviceIdentity identity{HexDefault(kVendor), HexDefault(kProduct), HexDefault(kDevice)};
    if (loaded.identity) identity = *loaded.identity;
    CDFUFile dfu(output.name.c_str(), options.vendor.value_or(identity.vendor),
                 options.product.value_or(identity.product), options.release.value_or(identity.release));
    if (dfu.GetStatus() != STATUS_SUCCESS) {
        return Report("fwpack output file error [%s] !\n", output.shown, 1);
    }
    for (const auto& image : loaded.images) {
        if (dfu.AddTarget(*image) != STATUS_SUCCESS) {
            // A file without the image would only mislead whoever picks it up.
            dfu.Discard();
            return Report("fwpack Failure for [%s] !\n", first_input, 1);
        }
    }
    // The file is complete on disk before success is reported.
    if (dfu.Close() != STATUS_SUCCESS) {
        return Report("fwpack output file error [%s] !\n", output.shown, 1);
    }
    return Report("fwpack success for [%s] !\n", first_input, 0);
}

int WriteRecords(const Options& options, const CImage& image, const OutputTarget& output,
                 const std::string& first_input) {
    const bool written = options.format == OutputFormat::kHex ? image.SaveHex(output.name.c_str(), true)
                                                              : image.SaveSRec(output.name.c_str());
    if (!written) return Report("fwpack output file error [%s] !\n", output.shown, 1);
    return Report("fwpack success for [%s] !\n", first_input, 0);
}

int Convert(const Options& options) {
    const std::string& first_input = options.targets.front().inputs.front();
    const char* extension =
        options.format == OutputFormat::kDfu ? kDefaults[kExtension] : FormatExtension(options.format);
    OutputTarget output;
    output.name = OutputName(options.output ? *options.output : first_input, extension);
    output.shown = options.output ? *options.output : output.name;
    // Refused before anything is read or written: the input would be lost.
    for (const auto& target : options.targets) {
        for (const auto& input : target.inputs) {
            if (SameFile(input, output.name)) {
                std::fprintf(stderr, "fwpack: the output %s is the input %s; writing it would destroy the input\n",
                             output.name.c_str(), input.c_str());
                return 1;
            }
        }
    }

    // The inputs are loaded before the output is opened, so that an input that
    // cannot be read leaves any existing output file untouched.
    LoadedTargets loaded;
    if (!LoadTargets(options, kDefaults[kTargetName], loaded)) return 1;
    if (options.format == OutputFormat::kDfu) return WriteDfu(options, loaded, output, first_input);
    return WriteRecords(options, *loaded.images.front(), output, first_input);
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    const Options& options = parsed.options;
    if (options.no_arguments) {
        std::fputs("fwpack [original file] [output file] !\n", stderr);
        return 1;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "fwpack: %s\nTry 'fwpack --help' for more information.\n", parsed.error.c_str());
        return 1;
    }
    if (options.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("fwpack " FWPACK_VERSION);
        return 0;
    }
    if (options.info) {
        const auto& bases = options.targets.front().bases;
        return RunInfo(*options.info, bases.empty() ? std::nullopt : std::optional<uint32_t>(bases.front()));
    }
    return Convert(options);
}
