// What a path says: the kind of file it names and the name of the output
// derived from it. The three rules that look for a "." each serve one use and
// are named for it.
#pragma once

#include <string>

#include "sys/file_kind.h"

// The extension that picks a reader: the last "." of the final path
// component and everything after it, upper-cased (".HEX"); empty when that
// component has no ".". The final component starts after the last "/" or
// "\", or after a drive ("C:").
std::string ReaderExtension(const std::string& path);

// The kind of file that `path` names by its reader extension, in any case:
// ".HEX", ".SREC", ".BIN", ".DFU", ".ELF" or ".AXF"; kUnknown for any other.
FileKind KindOfPath(const std::string& path);

// For a path whose extension names no kind but one that other tools use for
// a format that is read: the -I value that reads it ("srec" for ".s19",
// ".s28", ".s37", ".mot" and ".sx"; "hex" for ".ihx" and ".ihex"), else null.
const char* InputFormatHint(const std::string& path);

// The output name: within the final path component, the first "." and
// everything after it become "." and `extension`; a component without "."
// gets them appended. Directories are kept as they are.
std::string OutputName(const std::string& path, const char* extension);

// Splits `source` at its first ".": the text before it goes to `name`, the
// text after it, dots removed and upper-cased, to `extension`. Each buffer must
// hold strlen(source) + 1 characters. Returns whether a "." was found.
bool SplitFileName(const char* source, char* name, char* extension);
