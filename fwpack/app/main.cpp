// fwpack: converts a firmware image (Intel HEX, Motorola S-records, ELF, a
// raw binary or a DfuSe file) into a DfuSe file, or into Intel HEX or
// S-records, and lists what such a file holds. This is the top: the command
// line taken apart, the mode run, and the one place where the program's
// messages are printed and its exit status chosen.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "app/convert.h"
#include "app/options.h"
#include "info/compare.h"
#include "info/report.h"
#include "info/report_json.h"
#include "info/report_text.h"
#include "sys/platform.h"

#ifndef FWPACK_VERSION
#define FWPACK_VERSION "unknown"
#endif

namespace {

// The lines that say what went wrong. A cause that the plain form never gave
// (why a file cannot be opened) is added only when options were given; an
// input that could not be loaded ends with the line that says so.
std::string ErrorLines(const Error& error, bool plain_form) {
    std::string lines;
    switch (error.kind) {
        case Error::Kind::kNone: break;
        case Error::Kind::kReaderLine: lines = ReaderDiagnostic(error); break;
        case Error::Kind::kCannotOpen:
            if (plain_form) break;
            [[fallthrough]];
        case Error::Kind::kProblem:
            lines = "fwpack: " + (error.path.empty() ? std::string() : error.path + ": ") + error.cause + "\n";
            break;
    }
    if (error.unloadable) lines += "fwpack Unable to create image from this file [" + error.path + "] !\n";
    return lines;
}

int RunInfo(const Options& options) {
    const Error conflict = MapConflict(options, nullptr);
    if (conflict.kind != Error::Kind::kNone) {
        platform::WriteText(stderr, ErrorLines(conflict, false));
        return 1;
    }
    StageJob stage = options.targets.front().stage;
    StageOptionsOfRun(options, stage);
    const InfoReport report = MakeReport(options.targets.front().inputs.front(), options.layouts, options.json, &stage);
    if (options.json) {
        platform::WriteText(stdout, ReportJson(report));
    } else {
        // The listing is printed in pieces of whole lines as it is made.
        WriteReportText(report, [](const char* text, std::size_t length) {
            platform::WriteText(stdout, std::string_view(text, length));
        });
    }
    // The picture is drawn whenever there is something to draw, a file with
    // a problem too: it shows where the problem lies.
    Error map_error;
    if (options.map && report.loaded) map_error = WriteMap(*options.map, report, report.input.path);
    if (report.sound && map_error.kind == Error::Kind::kNone) return 0;
    // The listing stands before the problem, wherever both streams go.
    std::fflush(stdout);
    platform::WriteText(stderr, ErrorLines(report.sound ? map_error : report.problem, false) +
                                    (report.sound ? "" : ErrorLines(map_error, false)));
    return 1;
}

// --compare ends as cmp does: 0 when the files agree, 1 when they differ,
// and kCompareTrouble for anything that kept it from telling.
constexpr int kCompareTrouble = 2;

int RunCompare(const Options& options) {
    const TargetOptions& target = options.targets.front();
    CompareReport report;
    Error error;
    if (!CompareFiles(target.inputs[0], target.inputs[1], target.alternate, options.json, report, error)) {
        platform::WriteText(stderr, ErrorLines(error, false));
        return kCompareTrouble;
    }
    platform::WriteText(stdout, options.json ? CompareJson(report) : CompareText(report));
    return report.Agree() ? 0 : 1;
}

// Whether the command line asks for --compare, which gives its own status
// to a command line it cannot read: told before the parser stops at an error.
bool AsksForCompare(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--compare") return true;
    }
    return false;
}

int RunConversion(const Options& options) {
    const Outcome outcome = Convert(options);
    std::string lines;
    for (const std::string& warning : outcome.warnings) lines += "fwpack: warning: " + warning + "\n";
    lines += ErrorLines(outcome.error, options.plain_form);
    if (!outcome.line.empty()) lines += outcome.line + "\n";
    platform::WriteText(stderr, lines);
    return outcome.status;
}

int Run(int argc, char* argv[], bool& compare) {
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
    compare = options.compare || AsksForCompare(args);
    if (options.no_arguments) {
        platform::WriteText(stderr, "fwpack [original file] [output file] !\n");
        return 1;
    }
    if (!parsed.error.empty()) {
        platform::WriteText(stderr, "fwpack: " + parsed.error + "\nTry 'fwpack --help' for more information.\n");
        return AsksForCompare(args) ? kCompareTrouble : 1;
    }
    if (options.help) {
        platform::WriteText(stdout, UsageText());
        return 0;
    }
    if (options.version) {
        platform::WriteText(stdout, "fwpack " FWPACK_VERSION "\n");
        return 0;
    }
    if (options.compare) return RunCompare(options);
    return options.info ? RunInfo(options) : RunConversion(options);
}

// `status`, or 1 (2 for --compare) with the line that says so when what the program wrote to
// standard output did not all arrive there (a full disk, a closed stream).
int CheckStandardOutput(int status, bool compare) {
    std::string cause;
    if (platform::StandardOutputDelivered(cause)) return status;
    platform::WriteText(stderr, "fwpack: cannot write to the standard output: " + cause + "\n");
    return compare ? kCompareTrouble : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // A file size limit makes a write fail, which is reported, rather than
    // end the program without a word.
    platform::IgnoreFileSizeSignal();
    // Loading names the input where memory runs out; anywhere else, this says it.
    bool compare = false;
    try {
        return CheckStandardOutput(Run(argc, argv, compare), compare);
    } catch (const std::bad_alloc&) {
        std::fputs("fwpack: memory ran out\n", stderr);
        return compare ? kCompareTrouble : 1;
    }
}
