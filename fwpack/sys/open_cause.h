// Why a file could not be opened, in a few words, for the line that says so.
#pragma once

#include <string>

// For an input, just after opening it failed with `error_number` (errno):
// "no such file", "it is a folder, not a file", "no permission to read it",
// or the system's words.
std::string ReadFailureCause(const std::string& path, int error_number);

// For an output that could not be opened or written: "the folder 'DIR' does
// not exist", "it is a folder, not a file", "no permission to write it", or
// empty when the state of the file system tells nothing more.
std::string WriteFailureCause(const std::string& path, int error_number);
