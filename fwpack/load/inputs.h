// Loading the converter's inputs into images: each input by its kind, a raw
// binary at its load address, a DfuSe file as its targets, and several inputs
// of one target merged in address order. A load that fails hands back the
// lines that say why; the readers' own diagnostics have been printed already.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dfuse/dfu_parser.h"
#include "image/image.h"
#include "app/options.h"

// The suffix fields of a DfuSe input, which its rewrite keeps unless the
// command line gives others.
struct DeviceIdentity {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t release = 0;
};

struct LoadedTargets {
    std::vector<std::unique_ptr<CImage>> images;  // one per target, in order
    std::optional<DeviceIdentity> identity;       // when the input was a DfuSe file
};

// Loads every target of `options` (a DfuSe input: the targets it holds, or
// the one that -a chooses); a target that -n does not name gets
// `default_name`. False with the lines for standard error in `error`.
bool LoadTargets(const Options& options, const char* default_name, LoadedTargets& loaded, std::string& error);

// Loads one input that is not a DfuSe file into a fresh image with
// `alternate` and no name. Null with the lines for standard error in `error`.
std::unique_ptr<CImage> LoadInput(const InputFile& input, uint8_t alternate, std::string& error);

// The targets of a sound DfuSe file `data` as images, each with its
// alternate setting, its name (when it is named) and its elements in order.
std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info, const uint8_t* data);

// The same, with no bytes copied: the elements point into `bytes` (those of
// the file that `info` describes), of which each image keeps a share.
std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info,
                                                      const std::shared_ptr<const SharedBytes>& bytes);

enum class WholeFileRead { kRead, kUnreadable, kTooLong };

// Reads a whole file as bytes, but never more than `limit` of them: a file
// that holds more, or a source that never ends, is kTooLong as soon as the
// reading passes the limit.
WholeFileRead ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit);

// The same into memory that element lists can share; `bytes` is set only
// when the file was read. Throws std::bad_alloc when memory runs out.
WholeFileRead ReadFileBytes(const std::string& path, uint64_t limit, std::shared_ptr<SharedBytes>& bytes);

// Reads a DfuSe input whole, into memory its images can share. Null, with the
// line that says why in `error` when there is more to say than that it cannot
// be read: it holds more bytes than a DfuSe file can, or memory ran out.
std::shared_ptr<const SharedBytes> ReadDfuInput(const std::string& path, std::string& error);

// The line that ends every failed load.
std::string UnloadableLine(const std::string& path);

// The line that says memory ran out while `path` was read.
std::string OutOfMemoryLine(const std::string& path);

// The line that names an element of `path` whose bytes run past address
// 0xFFFFFFFF, where no Intel HEX or S-record file can put them; with the
// output format that therefore cannot be written, when there is one.
std::string PastTheTopLine(const std::string& path, uint32_t address, uint32_t size, const char* format);

// The first element of `list` that runs past address 0xFFFFFFFF, or null.
const ImageElement* FirstPastTheTop(const ElementList& list);
