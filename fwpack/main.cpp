// fwpack: converts a firmware image in a Motorola S-record or Intel HEX file
// into a DfuSe file. This is the driver: command line, output name, fixed
// defaults, and the sequence load, build, write, report.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dfu_file.h"
#include "image.h"

namespace {

// The values that go into every output file besides the firmware, kept as
// text: the output extension, the device release number, the vendor and
// product identifiers (hexadecimal), and the target name.
constexpr const char* kDefaults[] = {"dfu", "0000", "0483", "0000", "ST..."};
enum DefaultEntry { kExtension, kDevice, kVendor, kProduct, kTargetName };

constexpr uint8_t kAlternateSetting = 0;

uint16_t HexDefault(DefaultEntry entry) {
    return static_cast<uint16_t>(std::strtoul(kDefaults[entry], nullptr, 16));
}

// The output name: within the final path component, the first "." and
// everything after it become "." and the output extension; a component
// without "." gets them appended. Directories are kept as they are.
std::string OutputName(const std::string& path) {
    std::size_t component = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/' || c == '\\' || (c == ':' && i == 1)) component = i + 1;
    }
    const std::size_t dot = path.find('.', component);
    return path.substr(0, dot) + "." + kDefaults[kExtension];
}

// Prints the run's one outcome line and gives the exit status that goes with it.
int Report(const char* format, const std::string& argument, int status) {
    std::fprintf(stderr, format, argument.c_str());
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("fwpack [original file] [output file] !\n", stderr);
        return 1;
    }
    const std::string inname = argv[1];
    const bool output_given = argc > 2;
    const std::string outname = OutputName(output_given ? argv[2] : argv[1]);
    // An output error names the second argument as typed, else the derived name.
    const std::string output_shown = output_given ? argv[2] : outname;

    // The image is loaded before the output is opened, so that an input that
    // cannot be read leaves any existing output file untouched.
    CImage image(kAlternateSetting, inname.c_str(), false, nullptr);
    if (!image.IsLoaded()) {
        return Report("fwpack Unable to create image from this file [%s] !\n", inname, 1);
    }
    image.SetName(kDefaults[kTargetName]);

    CDFUFile dfu(outname.c_str(), HexDefault(kVendor), HexDefault(kProduct), HexDefault(kDevice));
    if (dfu.GetStatus() != STATUS_SUCCESS) {
        return Report("fwpack output file error [%s] !\n", output_shown, 1);
    }
    if (dfu.AddTarget(image) != STATUS_SUCCESS) {
        // A file without the image would only mislead whoever picks it up.
        dfu.Discard();
        return Report("fwpack Failure for [%s] !\n", inname, 1);
    }
    // The file is complete on disk before success is reported.
    if (dfu.Close() != STATUS_SUCCESS) {
        return Report("fwpack output file error [%s] !\n", output_shown, 1);
    }
    return Report("fwpack success for [%s] !\n", inname, 0);
}
