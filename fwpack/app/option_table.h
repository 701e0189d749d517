// The options of the command line as one table: each option's names, its
// argument, the help line and the handler that takes its value. --help is
// made from the table, and the tests check the manual page and the bash
// completion against it, so an option is one row and a handler.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/options.h"

// What the handlers work on while the command line is read.
struct CommandLineState {
    ParsedCommandLine result;

    // A --layout as given; its alternate setting is known only at the end.
    struct PendingLayout {
        std::optional<uint8_t> alternate;  // ALT=
        std::size_t target = 0;            // the target opened last when it was given
        layout::MemoryLayout memory;
    };
    std::vector<PendingLayout> layouts;
    std::vector<std::string> base_shown;  // every -b value as typed, in order

    Options& options() { return result.options; }
    TargetOptions& current() { return result.options.targets.back(); }
    // Keeps the first error only.
    void Error(std::string text) {
        if (result.error.empty()) result.error = std::move(text);
    }
};

enum OptionFlags : unsigned {
    kTakesValue = 1,        // the next argument, or the text after "=" or after the short name
    kValueAfterEquals = 2,  // a switch that also takes "--name=VALUE"
    kWithInfo = 4,          // goes with --info
    kNamesTarget = 8,       // names or opens a target itself, which --split does
    kWithCompare = 16,      // goes with --compare
};

struct OptionRow {
    char short_name;  // 0: none
    const char* long_name;
    const char* argument;  // shown in the help: "VID:PID"; null for a switch
    unsigned flags;
    const char* group;  // the heading of the help's section
    const char* help;   // the help line, "\n" between its lines
    // Takes the option's value; `shown` is the option as typed, for messages.
    void (*handler)(CommandLineState& state, const std::string& shown, const std::string& value);
};

// Every option, in the help's order.
const std::vector<OptionRow>& OptionTable();

const OptionRow* FindShortOption(char name);
const OptionRow* FindLongOption(const std::string& name);
// The long option nearest to `name` (a slip of a letter or two), or null.
const OptionRow* NearestLongOption(const std::string& name);
