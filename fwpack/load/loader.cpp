// Loading a job's inputs into images, one target at a time.
#include "load/loader.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

#include "dfuse/dfu_format.h"
#include "formats/bin_reader.h"
#include "formats/elf_reader.h"
#include "formats/hex_reader.h"
#include "formats/srec_reader.h"
#include "formats/uf2_reader.h"
#include "load/read_file.h"
#include "stage/overlap.h"
#include "stage/stage.h"
#include "sys/paths.h"
#include "util/text_format.h"

namespace {

using Elements = std::unique_ptr<ElementList>;

// The error of an input that names no format by its extension, with the -I
// that reads it where its extension is one that other tools use; first of
// all, that there is no such file to read.
Error NoFormat(const std::string& path) {
    std::error_code ignored;
    const FilePtr file = OpenInput(path);
    if (!file || std::filesystem::is_directory(platform::FsPath(path), ignored)) return CannotOpenInput(path);
    const char* hint = InputFormatHint(path);
    const std::string extension = ReaderExtension(path);
    if (hint) {
        return Error::CannotOpen(path, Format("the extension %s names no input format: read it with -I %s",
                                              path.substr(path.size() - extension.size()).c_str(), hint));
    }
    return Error::CannotOpen(path, extension.empty()
                                       ? "its name has no extension that names its format: give it with -I FORMAT"
                                       : "its extension names no input format: give it with -I FORMAT");
}

// Whether a raw binary of `size` bytes (none: more than it could hold, found
// while reading) fits one element; false with the error that says why.
bool BinFitsElement(const std::string& path, std::optional<uint64_t> size, Error& error) {
    constexpr unsigned long long kMaxElementSize = 0xFFFFFFFFu;
    if (size && *size <= kMaxElementSize) return true;
    const std::string bytes = size ? Format("its %llu bytes", static_cast<unsigned long long>(*size)) : "its bytes";
    error = Error::Problem(path, Format("%s are more than an element can hold (at most %llu bytes)%s", bytes.c_str(),
                                        kMaxElementSize, size ? "" : "; the reading stops there"));
    return false;
}

// Reads a raw binary input at its load address.
bool LoadBinInput(const InputFile& input, ElementList& list, Error& error) {
    const std::optional<uint64_t> size = SizeAhead(input.path);
    if (size && *input.base + *size > (uint64_t{1} << 32)) {
        error = Error::Problem(input.path, Format("its %llu bytes from 0x%08X run past address 0xFFFFFFFF",
                                                  static_cast<unsigned long long>(*size), unsigned{*input.base}));
        return false;
    }
    if (size && !BinFitsElement(input.path, size, error)) return false;
    const FilePtr file = OpenInput(input.path);
    if (!file) {
        error = CannotOpenInput(input.path);
        return false;
    }
    switch (ReadBin(file.get(), *input.base, list)) {
        case BinRead::kRead: return true;
        case BinRead::kTooLarge: return BinFitsElement(input.path, std::nullopt, error);
        case BinRead::kUnreadable: error = CannotOpenInput(input.path); return false;
        case BinRead::kPastTheTop: break;
    }
    // A source whose size was not known ahead, or that never ends.
    error = Error::Problem(
        input.path, Format("its bytes from 0x%08X run past address 0xFFFFFFFF after the first %llu",
                           unsigned{*input.base}, static_cast<unsigned long long>((uint64_t{1} << 32) - *input.base)));
    return false;
}

// Reads a record file (Intel HEX or S-records).
bool LoadRecordInput(const InputFile& input, ElementList& list, Error& error) {
    const FilePtr file = OpenInput(input.path);
    if (!file) {
        error = CannotOpenInput(input.path);
        return false;
    }
    const bool read =
        input.kind == FileKind::kHex ? ReadHex(file.get(), list, error) : ReadSRec(file.get(), list, error);
    if (!read && error.kind == Error::Kind::kNone) error = CannotOpenInput(input.path);
    return read;
}

bool LoadElfInput(const InputFile& input, ElementList& list, Error& error) {
    // The headers of a file of known size are checked before its bytes are read.
    std::string problem;
    if (const std::optional<uint64_t> size = SizeAhead(input.path);
        size && !ElfHeadersFit(input.path, *size, problem)) {
        error = Error::Problem(input.path, problem);
        return false;
    }
    std::vector<uint8_t> bytes;
    // An ELF file has no bound of its own: only memory limits it.
    if (ReadWholeFile(input.path, bytes, UINT64_MAX) != WholeFileRead::kRead) {
        error = CannotOpenInput(input.path);
        return false;
    }
    if (ParseElf(bytes.data(), bytes.size(), list, problem)) return true;
    error = Error::Problem(input.path, problem);
    return false;
}

bool LoadUf2Input(const InputFile& input, ElementList& list, Error& error) {
    // Read in one piece: the payloads are copied out of it block by block.
    std::shared_ptr<SharedBytes> bytes;
    if (ReadFileBytes(input.path, UINT64_MAX, bytes) != WholeFileRead::kRead) {
        error = CannotOpenInput(input.path);
        return false;
    }
    const Uf2FileInfo info = ReadUf2(bytes->data(), bytes->size(), input.family, list);
    if (!info.IsSound()) error = Error::Problem(input.path, info.problem);
    return info.IsSound();
}

// The elements of one input that is not a DfuSe file; null with the error.
Elements LoadElements(const InputFile& input, Error& error) {
    auto list = std::make_unique<ElementList>();
    bool loaded = false;
    try {
        switch (input.kind) {
            case FileKind::kHex:
            case FileKind::kSrec: loaded = LoadRecordInput(input, *list, error); break;
            case FileKind::kBin: loaded = input.base && LoadBinInput(input, *list, error); break;
            case FileKind::kElf: loaded = LoadElfInput(input, *list, error); break;
            case FileKind::kUf2: loaded = LoadUf2Input(input, *list, error); break;
            case FileKind::kDfu: break;  // read as the targets it holds, never as one input
            case FileKind::kUnknown: error = NoFormat(input.path); break;
        }
    } catch (const std::bad_alloc&) {
        // What was read so far goes first, so that the lines below have memory.
        list.reset();
        error = OutOfMemory(input.path);
    }
    if (!loaded) {
        error.unloadable = true;
        error.path = input.path;
        return nullptr;
    }
    // What was kept for the last element to grow is not needed any more.
    list->Trim();
    return list;
}

// Whether the elements of `path` can be written as `format`: a HEX or
// S-record file has no address for bytes past 0xFFFFFFFF, and its writer
// would leave out their whole element.
bool FitsFormat(const std::string& path, const ElementList& list, OutputFormat format, Error& error) {
    if (format == OutputFormat::kDfu) return true;
    const auto past = FirstPastTheTop(list);
    if (past != list.end()) error = PastTheTop(path, *past, FormatName(format));
    return past == list.end();
}

// The inputs of one target, loaded and merged into its image.
std::unique_ptr<CImage> LoadTarget(const TargetJob& target, const LoadJob& job, Error& error) {
    std::vector<Elements> inputs;
    for (const InputFile& input : target.inputs) {
        inputs.push_back(LoadElements(input, error));
        if (!inputs.back() || !FitsFormat(input.path, *inputs.back(), job.format, error)) return nullptr;
    }
    if (inputs.size() > 1) {
        std::size_t count = 0;
        for (const auto& input : inputs) count += static_cast<std::size_t>(input->GetCount());
        std::vector<OwnedSpan> spans;
        spans.reserve(count);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            for (const ImageElement& e : *inputs[i]) spans.push_back({e.address, e.size, static_cast<uint32_t>(i)});
        }
        if (const auto overlap = FirstOverlap(std::move(spans), inputs.size())) {
            if (job.overlap == OverlapMode::kRefuse) {
                error = Error::Problem(
                    "", Format("%s and %s both define the byte at 0x%08X", target.inputs[overlap->first].path.c_str(),
                               target.inputs[overlap->second].path.c_str(), unsigned{overlap->address}));
                return nullptr;
            }
            ByteConflict conflict;
            Elements merged = MergeOverlapping(inputs, job.overlap, conflict);
            if (!merged) {
                error = Error::Problem(
                    "", Format("%s and %s give the byte at 0x%08llX different values (0x%02X and 0x%02X)",
                               target.inputs[conflict.first_owner].path.c_str(),
                               target.inputs[conflict.second_owner].path.c_str(),
                               static_cast<unsigned long long>(conflict.address), unsigned{conflict.first},
                               unsigned{conflict.second}));
                return nullptr;
            }
            inputs.front() = std::move(merged);
        } else {
            inputs.front()->Reserve(count);
            for (std::size_t i = 1; i < inputs.size(); ++i) inputs.front()->TakeAll(*inputs[i]);
            inputs.front()->SortByAddress();
        }
    }
    const std::string& name = target.name ? *target.name : job.default_name;
    auto image = std::make_unique<CImage>(target.alternate.value_or(0), true, name.c_str(), std::move(inputs.front()));
    if (!target.stage.Empty()) image = StageImage(*image, target.stage, target.inputs.front().path, nullptr, error);
    return image;
}

std::string AlternateList(const std::vector<std::unique_ptr<CImage>>& images) {
    std::string list;
    for (const auto& image : images) list += (list.empty() ? "" : ", ") + std::to_string(image->GetAlternate());
    return list;
}

// The targets of a DfuSe input, and the one that its alternate setting chooses among them.
bool LoadDfuInput(const LoadJob& job, LoadedTargets& loaded, Error& error) {
    const TargetJob& target = job.targets.front();
    const std::string& path = target.inputs.front().path;
    const std::shared_ptr<const SharedBytes> bytes = ReadDfuInput(path, error);
    if (!bytes) {
        error.unloadable = true;
        return false;
    }
    const DfuFileInfo info = ParseDfuFile(bytes->data(), bytes->size());
    if (!info.IsSound()) {
        error = Error::Problem(path, info.problem);
        error.unloadable = true;
        return false;
    }
    loaded.identity = DeviceIdentity{info.suffix.vendor, info.suffix.product, info.suffix.release};
    const InputFile& input = target.inputs.front();
    if (info.plain != input.base.has_value()) {
        error = Error::Problem(path, PlainDfuBaseProblem(info.plain));
        error.unloadable = true;
        return false;
    }
    std::vector<std::unique_ptr<CImage>> images;
    try {
        if (info.plain) {
            const std::string& name = target.name ? *target.name : job.default_name;
            std::unique_ptr<CImage> image =
                PlainDfuImage(info, bytes, *input.base, target.alternate.value_or(0), name.c_str(), path, error);
            if (!image) return false;
            loaded.images.push_back(std::move(image));
            return FitsFormat(path, loaded.images.front()->GetList(), job.format, error);
        }
        images = TargetsOfDfuFile(info, bytes);
    } catch (const std::bad_alloc&) {
        error = OutOfMemory(path);
        error.unloadable = true;
        return false;
    }
    if (target.alternate) {
        const auto chosen = std::find_if(images.begin(), images.end(),
                                         [&](const auto& image) { return image->GetAlternate() == *target.alternate; });
        if (chosen == images.end()) {
            error = Error::Problem(
                "", Format("%s has no target with alternate setting %u (it has %s)", path.c_str(),
                           unsigned{*target.alternate}, images.empty() ? "none" : AlternateList(images).c_str()));
            return false;
        }
        std::unique_ptr<CImage> image = std::move(*chosen);
        images.clear();
        images.push_back(std::move(image));
    }
    if (job.format != OutputFormat::kDfu && images.size() != 1) {
        error = Error::Problem("", images.empty() ? Format("%s holds no target", path.c_str())
                                                  : Format("%s holds %llu targets (alternate settings %s); choose one "
                                                           "with -a",
                                                           path.c_str(), static_cast<unsigned long long>(images.size()),
                                                           AlternateList(images).c_str()));
        return false;
    }
    if (target.name) {
        if (images.size() != 1) {
            error = Error::Problem("", Format("-n: %s holds %llu targets; choose the one to name with -a", path.c_str(),
                                              static_cast<unsigned long long>(images.size())));
            return false;
        }
        images.front()->SetName(target.name->c_str());
    }
    if (!target.stage.Empty()) {
        // The image options change one target: the one that is written.
        if (images.size() != 1) {
            error = Error::Problem("", Format("%s holds %llu targets (alternate settings %s); the image options change "
                                              "one: choose it with -a",
                                              path.c_str(), static_cast<unsigned long long>(images.size()),
                                              images.empty() ? "none" : AlternateList(images).c_str()));
            return false;
        }
        images.front() = StageImage(*images.front(), target.stage, path, nullptr, error);
        if (!images.front()) return false;
    }
    if (images.size() == 1 && !FitsFormat(path, images.front()->GetList(), job.format, error)) return false;
    loaded.images = std::move(images);
    return true;
}

}  // namespace

const char* FormatExtension(OutputFormat format) {
    switch (format) {
        case OutputFormat::kHex: return "hex";
        case OutputFormat::kSrec: return "srec";
        case OutputFormat::kBin: return "bin";
        case OutputFormat::kUf2: return "uf2";
        case OutputFormat::kDfu:
        case OutputFormat::kDfuPlain: break;
    }
    return "dfu";
}

const char* FormatName(OutputFormat format) {
    return format == OutputFormat::kDfuPlain ? "dfu-plain" : FormatExtension(format);
}

std::string PlainDfuBaseProblem(bool plain) {
    return plain ? "this is a plain DFU file (DFU version 0x0100 or 0x0110, no DfuSe prefix): it holds no address, "
                   "so it needs its load address (-b ADDR)"
                 : "this DfuSe file holds the addresses of its elements: -b gives one to a raw binary or a plain "
                   "DFU file only";
}

std::unique_ptr<CImage> PlainDfuImage(const DfuFileInfo& info, const std::shared_ptr<const SharedBytes>& bytes,
                                      uint32_t base, uint8_t alternate, const char* name, const std::string& path,
                                      Error& error) {
    const std::size_t size = info.file_size - dfu_format::kSuffixSize;
    if (base + uint64_t{size} > (uint64_t{1} << 32)) {
        error = Error::Problem(path, Format("its %llu bytes from 0x%08X run past address 0xFFFFFFFF",
                                            static_cast<unsigned long long>(size), unsigned{base}));
        error.unloadable = true;
        return nullptr;
    }
    auto list = std::make_unique<ElementList>();
    if (size > 0) {
        list->AppendShared(bytes,
                           {ImageElement{base, static_cast<uint32_t>(size), const_cast<uint8_t*>(bytes->data())}});
    }
    return std::make_unique<CImage>(alternate, name != nullptr, name, std::move(list));
}

std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info,
                                                      const std::shared_ptr<const SharedBytes>& bytes) {
    std::vector<std::unique_ptr<CImage>> images;
    std::vector<ImageElement> elements;
    for (const DfuTargetInfo& t : info.targets) {
        auto list = std::make_unique<ElementList>();
        elements.clear();
        for (const DfuElementInfo& e : t.elements) {
            elements.push_back(ImageElement{e.address, e.size, const_cast<uint8_t*>(bytes->data() + e.data_offset)});
        }
        list->AppendShared(bytes, elements);
        images.push_back(std::make_unique<CImage>(t.alternate, t.named != 0, t.name.c_str(), std::move(list)));
    }
    return images;
}

Error PastTheTop(const std::string& path, const ElementSpan& element, const char* format) {
    std::string cause = Format("the element at 0x%08X of %lu bytes runs past address 0xFFFFFFFF",
                               unsigned{element.address}, static_cast<unsigned long>(element.size));
    if (format) cause += Format(", so -f %s cannot write it", format);
    return Error::Problem(path, cause);
}

std::unique_ptr<CImage> LoadInput(const InputFile& input, uint8_t alternate, Error& error) {
    Elements list = LoadElements(input, error);
    if (!list) return nullptr;
    return std::make_unique<CImage>(alternate, false, nullptr, std::move(list));
}

bool LoadTargets(const LoadJob& job, LoadedTargets& loaded, Error& error) {
    if (job.targets.front().inputs.front().kind == FileKind::kDfu) return LoadDfuInput(job, loaded, error);
    for (const TargetJob& target : job.targets) {
        std::unique_ptr<CImage> image = LoadTarget(target, job, error);
        if (!image) return false;
        loaded.images.push_back(std::move(image));
    }
    return true;
}
