// Reading inputs whole, within a bound, and saying why one cannot be opened.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/byte_store.h"
#include "sys/platform.h"
#include "util/error.h"

// The input named `path`, opened to read bytes: "-" is standard input.
FilePtr OpenInput(const std::string& path);

// The size of the file at `path`, when it is one that has a size ahead;
// standard input has none, and a file named "-" is not it.
std::optional<uint64_t> SizeAhead(const std::string& path);

// Why the input `path` could not be opened, just after the attempt:
// "no such file", "it is a folder, not a file", "no permission to read it",
// or the system's words.
Error CannotOpenInput(const std::string& path);

enum class WholeFileRead { kRead, kUnreadable, kTooLong };

// Reads a whole file as bytes, but never more than `limit` of them: a file
// that holds more, or a source that never ends, is kTooLong as soon as the
// reading passes the limit.
WholeFileRead ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit);

// The same into memory that element lists can share; `bytes` is set only
// when the file was read. Throws std::bad_alloc when memory runs out.
WholeFileRead ReadFileBytes(const std::string& path, uint64_t limit, std::shared_ptr<SharedBytes>& bytes);

// Reads a DfuSe input whole, into memory its images can share. Null, with
// `error` saying why: it cannot be opened or read, it holds more bytes than
// a DfuSe file can, or memory ran out.
std::shared_ptr<const SharedBytes> ReadDfuInput(const std::string& path, Error& error);

// The error of an input whose reading ran out of memory.
Error OutOfMemory(const std::string& path);
