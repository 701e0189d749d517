// The launcher's platform layer: the few operations whose form differs between
// systems (own path, path separator, the companion's command line, running it,
// writing a text file, changing directory). Everything else in the launcher is the same everywhere.
#pragma once

#include <string>

namespace envlaunch {

// The separator that cuts the own path and joins names to the directory.
char PathSeparator();

// The full path of the running executable, of any length; empty when the
// system cannot tell.
std::string OwnExecutablePath();

// The command line that starts the companion program that lies in `dir`.
std::string CompanionCommandLine(const std::string& dir);

// Runs `line` through the command interpreter, waits for it and tells whether
// it ended with status zero. A program that cannot be started, or that ends
// any other way, counts as a failure.
bool RunCommandLine(const std::string& line);

enum class WriteOutcome { kWritten, kCannotOpen, kCannotWrite };

// Creates or truncates the text file `path` and writes `text` into it, each
// "\n" as the platform's line end. Every write and the close are checked;
// what is left after a failure is the caller's to clear away.
WriteOutcome WriteTextFile(const std::string& path, const std::string& text);

// Makes `dir` the current directory and tells whether that worked.
bool ChangeDirectory(const std::string& dir);

}  // namespace envlaunch
