// Loading the converter's inputs into images, one target at a time.
#include "inputs.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

#include "dfu_format.h"
#include "formats.h"
#include "platform.h"
#include "text_format.h"

namespace {

// Where a byte is defined twice, by two different inputs of one target, the
// first such address and the two inputs; none when the inputs keep apart.
struct Overlap {
    uint32_t address;
    std::size_t first;
    std::size_t second;
};

std::optional<Overlap> FindOverlap(const std::vector<std::unique_ptr<CImage>>& inputs) {
    struct Span {
        uint64_t start;
        uint64_t end;
        std::size_t input;
    };
    std::vector<Span> spans;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (const ImageElement& element : inputs[i]->GetList()) {
            if (element.size != 0) spans.push_back({element.address, element.address + uint64_t{element.size}, i});
        }
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    // In address order, a span that starts below the furthest end that another
    // input has reached so far shares its first byte with that input. The two
    // furthest ends of two different inputs tell at once whether any other
    // input reaches that far; only then are the inputs searched, for the
    // first of them in command-line order.
    std::vector<uint64_t> reach(inputs.size(), 0);
    struct Furthest {
        uint64_t end = 0;
        std::size_t input = SIZE_MAX;
    } best, second;
    for (const Span& span : spans) {
        const uint64_t other_reach = best.input != span.input ? best.end : second.end;
        if (other_reach > span.start) {
            for (std::size_t other = 0; other < inputs.size(); ++other) {
                if (other != span.input && reach[other] > span.start) {
                    return Overlap{static_cast<uint32_t>(span.start), std::min(other, span.input),
                                   std::max(other, span.input)};
                }
            }
        }
        reach[span.input] = std::max(reach[span.input], span.end);
        const Furthest mine{reach[span.input], span.input};
        if (mine.input == best.input) {
            best = mine;
        } else if (mine.end > best.end) {
            second = best;
            best = mine;
        } else if (mine.input == second.input || mine.end > second.end) {
            second = mine;
        }
    }
    return std::nullopt;
}

// Whether `image`, loaded from `path`, can be written as `format`: a HEX or
// S-record file has no address for bytes past 0xFFFFFFFF, and its writer
// would leave out their whole element.
bool FitsFormat(const std::string& path, const CImage& image, OutputFormat format, std::string& error) {
    if (format == OutputFormat::kDfu) return true;
    const ImageElement* past = FirstPastTheTop(image.GetList());
    if (past) error = PastTheTopLine(path, past->address, past->size, FormatExtension(format));
    return past == nullptr;
}

// The inputs of one target, loaded and merged into its image.
std::unique_ptr<CImage> LoadTarget(const TargetOptions& target, const char* default_name, OutputFormat format,
                                   std::string& error) {
    const uint8_t alternate = target.alternate.value_or(0);
    std::vector<std::unique_ptr<CImage>> inputs;
    for (const InputFile& input : target.inputs) {
        inputs.push_back(LoadInput(input, alternate, error));
        if (!inputs.back() || !FitsFormat(input.path, *inputs.back(), format, error)) return nullptr;
    }
    if (inputs.size() > 1) {
        if (const auto overlap = FindOverlap(inputs)) {
            error =
                Format("fwpack: %s and %s both define the byte at 0x%08X\n", target.inputs[overlap->first].path.c_str(),
                       target.inputs[overlap->second].path.c_str(), unsigned{overlap->address});
            return nullptr;
        }
        for (std::size_t i = 1; i < inputs.size(); ++i) inputs.front()->TakeElements(*inputs[i]);
        inputs.front()->SortElements();
    }
    inputs.front()->SetName(target.name ? target.name->c_str() : default_name);
    return std::move(inputs.front());
}

std::string AlternateList(const std::vector<std::unique_ptr<CImage>>& images) {
    std::string list;
    for (const auto& image : images) list += (list.empty() ? "" : ", ") + std::to_string(image->GetAlternate());
    return list;
}

// The targets of a DfuSe input, and the one that -a chooses among them.
bool LoadDfuInput(const Options& options, LoadedTargets& loaded, std::string& error) {
    const TargetOptions& target = options.targets.front();
    const std::string& path = target.inputs.front().path;
    std::vector<uint8_t> bytes;
    if (!ReadDfuInput(path, bytes, error)) {
        error += UnloadableLine(path);
        return false;
    }
    const DfuFileInfo info = ParseDfuFile(bytes.data(), bytes.size());
    if (!info.IsSound()) {
        error = Format("fwpack: %s: %s\n", path.c_str(), info.problem.c_str()) + UnloadableLine(path);
        return false;
    }
    loaded.identity = DeviceIdentity{info.suffix.vendor, info.suffix.product, info.suffix.release};
    std::vector<std::unique_ptr<CImage>> images;
    try {
        images = TargetsOfDfuFile(info, bytes.data());
    } catch (const std::bad_alloc&) {
        error = OutOfMemoryLine(path) + UnloadableLine(path);
        return false;
    }
    if (target.alternate) {
        const auto chosen = std::find_if(images.begin(), images.end(),
                                         [&](const auto& image) { return image->GetAlternate() == *target.alternate; });
        if (chosen == images.end()) {
            error = Format("fwpack: %s has no target with alternate setting %u (it has %s)\n", path.c_str(),
                           unsigned{*target.alternate}, images.empty() ? "none" : AlternateList(images).c_str());
            return false;
        }
        std::unique_ptr<CImage> image = std::move(*chosen);
        images.clear();
        images.push_back(std::move(image));
    }
    if (options.format != OutputFormat::kDfu && images.size() != 1) {
        if (images.empty()) {
            error = Format("fwpack: %s holds no target\n", path.c_str());
        } else {
            error = Format("fwpack: %s holds %llu targets (alternate settings %s); choose one with -a\n", path.c_str(),
                           static_cast<unsigned long long>(images.size()), AlternateList(images).c_str());
        }
        return false;
    }
    if (target.name) {
        if (images.size() != 1) {
            error = Format("fwpack: -n: %s holds %llu targets; choose the one to name with -a\n", path.c_str(),
                           static_cast<unsigned long long>(images.size()));
            return false;
        }
        images.front()->SetName(target.name->c_str());
    }
    if (images.size() == 1 && !FitsFormat(path, *images.front(), options.format, error)) return false;
    loaded.images = std::move(images);
    return true;
}

}  // namespace

std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info, const uint8_t* data) {
    std::vector<std::unique_ptr<CImage>> images;
    for (const DfuTargetInfo& t : info.targets) {
        auto image = std::make_unique<CImage>(t.alternate, t.named != 0, t.name.c_str());
        for (const DfuElementInfo& e : t.elements) {
            // The image copies the bytes; the file's buffer stays as it is.
            image->PutElement(image->GetNbElements(), true,
                              ImageElement{e.address, e.size, const_cast<uint8_t*>(data + e.data_offset)});
        }
        images.push_back(std::move(image));
    }
    return images;
}

std::string UnloadableLine(const std::string& path) {
    return "fwpack Unable to create image from this file [" + path + "] !\n";
}

std::string OutOfMemoryLine(const std::string& path) {
    return "fwpack: " + path + ": memory ran out while reading it\n";
}

std::string PastTheTopLine(const std::string& path, uint32_t address, uint32_t size, const char* format) {
    std::string line = Format("fwpack: %s: the element at 0x%08X of %lu bytes runs past address 0xFFFFFFFF",
                              path.c_str(), unsigned{address}, static_cast<unsigned long>(size));
    if (format) line += Format(", so -f %s cannot write it", format);
    return line + "\n";
}

const ImageElement* FirstPastTheTop(const ElementList& list) {
    const auto past = std::find_if(list.begin(), list.end(),
                                   [](const ImageElement& e) { return e.size != 0 && !HasAddressableBytes(e); });
    return past == list.end() ? nullptr : past;
}

WholeFileRead ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit) {
    FilePtr file = platform::OpenFile(path.c_str(), "rb");
    if (!file) return WholeFileRead::kUnreadable;
    std::error_code error;
    // Standard input has no size ahead; a file named "-" is not it.
    const auto size = IsStandardStream(path.c_str()) ? 0 : std::filesystem::file_size(platform::FsPath(path), error);
    bytes.clear();
    if (!error && size > limit) return WholeFileRead::kTooLong;
    if (!error) bytes.reserve(static_cast<std::size_t>(size));
    uint8_t chunk[1 << 16];
    for (;;) {
        const std::size_t count = std::fread(chunk, 1, sizeof chunk, file.get());
        // A file that grows, or a source that never ends, is stopped here.
        if (count > limit - bytes.size()) return WholeFileRead::kTooLong;
        bytes.insert(bytes.end(), chunk, chunk + count);
        if (count < sizeof chunk)
            return std::ferror(file.get()) == 0 ? WholeFileRead::kRead : WholeFileRead::kUnreadable;
    }
}

bool ReadDfuInput(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    try {
        switch (ReadWholeFile(path, bytes, dfu_format::kMaxFileSize)) {
            case WholeFileRead::kRead: return true;
            case WholeFileRead::kUnreadable: break;
            case WholeFileRead::kTooLong:
                error = Format("fwpack: %s: the file holds more than %llu bytes, the most a DfuSe file can hold\n",
                               path.c_str(), static_cast<unsigned long long>(dfu_format::kMaxFileSize));
                break;
        }
    } catch (const std::bad_alloc&) {
        error = OutOfMemoryLine(path);
    }
    bytes = std::vector<uint8_t>();
    return false;
}

namespace {

// Reads a raw binary input at its load address; false with the line that
// says why in `error` when its bytes run past address 0xFFFFFFFF.
bool LoadBinInput(const InputFile& input, CImage& image, std::string& error) {
    const char* path = input.path.c_str();
    std::error_code size_error;
    const uint64_t size =
        IsStandardStream(path) ? 0 : std::filesystem::file_size(platform::FsPath(input.path), size_error);
    if (!size_error && *input.base + size > (uint64_t{1} << 32)) {
        error = Format("fwpack: %s: its %llu bytes from 0x%08X run past address 0xFFFFFFFF\n", path,
                       static_cast<unsigned long long>(size), unsigned{*input.base});
        return false;
    }
    switch (ReadBinFile(path, *input.base, image.GetList())) {
        case BinRead::kRead: return true;
        case BinRead::kUnreadable: return false;
        case BinRead::kPastTheTop: break;
    }
    // A source whose size was not known ahead, or that never ends.
    error = Format("fwpack: %s: its bytes from 0x%08X run past address 0xFFFFFFFF after the first %llu\n", path,
                   unsigned{*input.base}, static_cast<unsigned long long>((uint64_t{1} << 32) - *input.base));
    return false;
}

}  // namespace

std::unique_ptr<CImage> LoadInput(const InputFile& input, uint8_t alternate, std::string& error) {
    const char* path = input.path.c_str();
    auto image = std::make_unique<CImage>(alternate, false, nullptr);
    bool loaded = false;
    try {
        switch (input.kind) {
            case FileKind::kHex: loaded = image->LoadHex(path); break;
            case FileKind::kSrec: loaded = image->LoadSRec(path); break;
            case FileKind::kBin: loaded = input.base && LoadBinInput(input, *image, error); break;
            case FileKind::kElf: {
                std::vector<uint8_t> bytes;
                // An ELF file has no bound of its own: only memory limits it.
                if (ReadWholeFile(input.path, bytes, UINT64_MAX) != WholeFileRead::kRead) break;
                std::string problem;
                loaded = ParseElf(bytes.data(), bytes.size(), image->GetList(), problem);
                if (!loaded) error = Format("fwpack: %s: %s\n", path, problem.c_str());
                break;
            }
            case FileKind::kDfu:
            case FileKind::kUnknown: break;
        }
    } catch (const std::bad_alloc&) {
        // What was read so far goes first, so that the lines below have memory.
        image.reset();
        error = OutOfMemoryLine(input.path);
    }
    if (!loaded) {
        error += UnloadableLine(input.path);
        return nullptr;
    }
    // What was kept for the last element to grow is not needed any more.
    image->GetList().Trim();
    return image;
}

bool LoadTargets(const Options& options, const char* default_name, LoadedTargets& loaded, std::string& error) {
    if (options.targets.front().inputs.front().kind == FileKind::kDfu) return LoadDfuInput(options, loaded, error);
    for (const TargetOptions& target : options.targets) {
        std::unique_ptr<CImage> image = LoadTarget(target, default_name, options.format, error);
        if (!image) return false;
        loaded.images.push_back(std::move(image));
    }
    return true;
}
