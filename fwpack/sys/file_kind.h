// The kinds of file that the converter reads, each by its own reader.
#pragma once

enum class FileKind { kUnknown, kHex, kSrec, kBin, kDfu, kElf, kUf2 };
