// The launcher's platform layer: the few operations whose form differs between
// systems (own path, path separator, the companion's command line, running it,
// writing a text file, changing directory, printing a path). Everything else
// in the launcher is the same everywhere.
#pragma once

#include <string>

namespace envlaunch {

// A path in the system's own form: bytes on POSIX systems, UTF-16 on Windows,
// whose ANSI code page cannot hold every name a folder may have.
#if defined(_WIN32)
using PathChar = wchar_t;
#else
using PathChar = char;
#endif
using Path = std::basic_string<PathChar>;

// A path made of plain ASCII `text`.
inline Path AsciiPath(const std::string& text) { return Path(text.begin(), text.end()); }

// The separator that cuts the own path and joins names to the directory.
PathChar PathSeparator();

// The full path of the running executable, of any length; empty when the
// system cannot tell.
Path OwnExecutablePath();

// The command line that starts the companion program that lies in `dir`.
Path CompanionCommandLine(const Path& dir);

// Runs `line` through the command interpreter, waits for it and tells whether
// it ended with status zero. A program that cannot be started, or that ends
// any other way, counts as a failure.
bool RunCommandLine(const Path& line);

enum class WriteOutcome { kWritten, kCannotOpen, kCannotWrite };

// Creates or truncates the text file `path` and writes `text` into it, each
// "\n" as the platform's line end. Every write and the close are checked;
// what is left after a failure is the caller's to clear away.
WriteOutcome WriteTextFile(const Path& path, const std::string& text);

// Makes `dir` the current directory and tells whether that worked.
bool ChangeDirectory(const Path& dir);

// Writes `path` and a line end on standard output, so that its characters
// read correctly whatever they are; a path of plain ASCII comes out as its bytes.
void PrintPathLine(const Path& path);

}  // namespace envlaunch
