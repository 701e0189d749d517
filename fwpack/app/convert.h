// The conversion: the output's name, the inputs loaded, the layouts checked,
// the output written; its outcome as a value for the one place that prints.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "info/report.h"
#include "util/error.h"

// How a conversion ends: what goes to standard error, in this order, and the
// exit status.
struct Outcome {
    std::vector<std::string> warnings;  // each without "fwpack: warning: "
    Error error;                        // kNone and not unloadable when there is none
    std::string line;                   // the closing line ("fwpack success for [...] !"), or empty
    int status = 0;
};

Outcome Convert(const Options& options);

// The error of a --map that names an input or `output` (null: no output
// file); kNone when it names neither.
Error MapConflict(const Options& options, const std::string* output);

// Writes the picture of `report`, headed by `name`, to the --map file;
// kNone when it was written.
Error WriteMap(const std::string& path, const InfoReport& report, const std::string& name);

// The job that the command line describes, as the loader takes it.
LoadJob JobOf(const Options& options);
// Gives a target's stage what the whole run sets: the pad byte and, for
// --pad-pages, the layouts.
void StageOptionsOfRun(const Options& options, StageJob& stage);
