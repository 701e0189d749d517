// Loading a job's inputs into images: each input by its kind, a raw binary at
// its load address, a DfuSe file as its targets, and several inputs of one
// target merged in address order. A load that fails hands back the error
// that says why.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dfuse/defaults.h"
#include "dfuse/dfu_parser.h"
#include "image/image.h"
#include "load/job.h"
#include "model/element_view.h"
#include "util/error.h"

struct LoadedTargets {
    std::vector<std::unique_ptr<CImage>> images;  // one per target, in order
    std::optional<DeviceIdentity> identity;       // when the input was a DfuSe file
};

// Loads every target of `job` (a DfuSe input: the targets it holds, or the
// one that its alternate setting chooses); a target that names none gets the
// job's default name. False with the error in `error`.
bool LoadTargets(const LoadJob& job, LoadedTargets& loaded, Error& error);

// Loads one input that is not a DfuSe file into a fresh image with
// `alternate` and no name. Null with the error in `error`.
std::unique_ptr<CImage> LoadInput(const InputFile& input, uint8_t alternate, Error& error);

// The targets of a sound DfuSe file as images, each with its alternate
// setting, its name (when it is named) and its elements in order. No bytes
// are copied: the elements point into `bytes` (those of the file that
// `info` describes), of which each image keeps a share.
std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info,
                                                      const std::shared_ptr<const SharedBytes>& bytes);

// Why a DfuSe input cannot take -b, or a plain DFU file needs it.
std::string PlainDfuBaseProblem(bool plain);

// The image of a sound plain DFU file: its payload (every byte before the
// suffix, not copied) as one element at `base`, in a target with
// `alternate` and `name` (null: none). Null with the error when the bytes
// would run past address 0xFFFFFFFF.
std::unique_ptr<CImage> PlainDfuImage(const DfuFileInfo& info, const std::shared_ptr<const SharedBytes>& bytes,
                                      uint32_t base, uint8_t alternate, const char* name, const std::string& path,
                                      Error& error);

// The error that names an element of `path` whose bytes run past address
// 0xFFFFFFFF, where no Intel HEX or S-record file can put them; with the
// output format that therefore cannot be written, when there is one.
Error PastTheTop(const std::string& path, const ElementSpan& element, const char* format);
