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

// The input named `path`, opened to read bytes: "-" is standard input.
FilePtr OpenInput(const std::string& path) {
    return path == kStandardStream ? platform::StandardStream(false, true) : platform::OpenFile(path.c_str(), "rb");
}

// The size of the file at `path`, when it is one that has a size ahead;
// standard input has none, and a file named "-" is not it.
std::optional<uint64_t> SizeAhead(const std::string& path) {
    if (path == kStandardStream) return std::nullopt;
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(platform::FsPath(path), error);
    return error ? std::nullopt : std::optional<uint64_t>(size);
}

// Where a byte is defined twice, by two different inputs of one target, the
// first such address and the two inputs; none when the inputs keep apart.
struct Overlap {
    uint32_t address;
    std::size_t first;
    std::size_t second;
};

std::optional<Overlap> FindOverlap(const std::vector<std::unique_ptr<CImage>>& inputs) {
    // Twelve bytes for each element of every input, in one allocation.
    struct Span {
        uint32_t start;
        uint32_t size;
        uint32_t input;
        uint64_t end() const { return uint64_t{start} + size; }
    };
    std::size_t count = 0;
    for (const auto& input : inputs) count += static_cast<std::size_t>(input->GetList().GetCount());
    std::vector<Span> spans;
    spans.reserve(count);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (const ImageElement& element : inputs[i]->GetList()) {
            if (element.size != 0) spans.push_back({element.address, element.size, static_cast<uint32_t>(i)});
        }
    }
    const auto by_start = [](const Span& a, const Span& b) { return a.start < b.start; };
    // Inputs given in address order need no sorting, the usual case.
    if (!std::is_sorted(spans.begin(), spans.end(), by_start)) std::stable_sort(spans.begin(), spans.end(), by_start);
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
        const std::size_t input = span.input;
        const uint64_t other_reach = best.input != input ? best.end : second.end;
        if (other_reach > span.start) {
            for (std::size_t other = 0; other < inputs.size(); ++other) {
                if (other != input && reach[other] > span.start) {
                    return Overlap{span.start, std::min(other, input), std::max(other, input)};
                }
            }
        }
        reach[input] = std::max(reach[input], span.end());
        const Furthest mine{reach[input], input};
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
        std::size_t count = 0;
        for (const auto& input : inputs) count += static_cast<std::size_t>(input->GetList().GetCount());
        inputs.front()->GetList().Reserve(count);
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
    const std::shared_ptr<const SharedBytes> bytes = ReadDfuInput(path, error);
    if (!bytes) {
        error += UnloadableLine(path);
        return false;
    }
    const DfuFileInfo info = ParseDfuFile(bytes->data(), bytes->size());
    if (!info.IsSound()) {
        error = Format("fwpack: %s: %s\n", path.c_str(), info.problem.c_str()) + UnloadableLine(path);
        return false;
    }
    loaded.identity = DeviceIdentity{info.suffix.vendor, info.suffix.product, info.suffix.release};
    std::vector<std::unique_ptr<CImage>> images;
    try {
        images = TargetsOfDfuFile(info, bytes);
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

std::vector<std::unique_ptr<CImage>> TargetsOfDfuFile(const DfuFileInfo& info,
                                                      const std::shared_ptr<const SharedBytes>& bytes) {
    std::vector<std::unique_ptr<CImage>> images;
    std::vector<ImageElement> elements;
    for (const DfuTargetInfo& t : info.targets) {
        auto image = std::make_unique<CImage>(t.alternate, t.named != 0, t.name.c_str());
        elements.clear();
        for (const DfuElementInfo& e : t.elements) {
            elements.push_back(ImageElement{e.address, e.size, const_cast<uint8_t*>(bytes->data() + e.data_offset)});
        }
        image->GetList().AppendShared(bytes, elements);
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
    const FilePtr file = OpenInput(path);
    if (!file) return WholeFileRead::kUnreadable;
    const std::optional<uint64_t> size = SizeAhead(path);
    bytes.clear();
    if (size && *size > limit) return WholeFileRead::kTooLong;
    if (size) bytes.reserve(static_cast<std::size_t>(*size));
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

WholeFileRead ReadFileBytes(const std::string& path, uint64_t limit, std::shared_ptr<SharedBytes>& bytes) {
    const FilePtr file = OpenInput(path);
    if (!file) return WholeFileRead::kUnreadable;
    const std::optional<uint64_t> expected = SizeAhead(path);
    if (expected && *expected > limit) return WholeFileRead::kTooLong;
    // A byte more than the file is expected to hold, so that its end shows
    // in the first read; a file that grows meanwhile is read on in chunks.
    std::size_t wanted = expected && *expected < SIZE_MAX / 2 ? static_cast<std::size_t>(*expected) + 1 : 0;
    auto read = std::make_shared<SharedBytes>();
    std::size_t size = 0;
    for (;;) {
        wanted = std::max(wanted, std::size_t{1} << 20);
        if (size > SIZE_MAX - wanted || !read->Resize(size + wanted)) throw std::bad_alloc();
        const std::size_t count = std::fread(read->data() + size, 1, wanted, file.get());
        size += count;
        // A file that grows, or a source that never ends, is stopped here.
        if (size > limit) return WholeFileRead::kTooLong;
        if (count < wanted) {
            if (std::ferror(file.get()) != 0) return WholeFileRead::kUnreadable;
            read->Resize(size);
            bytes = std::move(read);
            return WholeFileRead::kRead;
        }
        wanted = 0;
    }
}

std::shared_ptr<const SharedBytes> ReadDfuInput(const std::string& path, std::string& error) {
    std::shared_ptr<SharedBytes> bytes;
    try {
        switch (ReadFileBytes(path, dfu_format::kMaxFileSize, bytes)) {
            case WholeFileRead::kRead: return bytes;
            case WholeFileRead::kUnreadable: break;
            case WholeFileRead::kTooLong:
                error = Format("fwpack: %s: the file holds more than %llu bytes, the most a DfuSe file can hold\n",
                               path.c_str(), static_cast<unsigned long long>(dfu_format::kMaxFileSize));
                break;
        }
    } catch (const std::bad_alloc&) {
        error = OutOfMemoryLine(path);
    }
    return nullptr;
}

namespace {

// Whether a raw binary of `size` bytes (none: more than it could hold, found
// while reading) fits one element; false with the line that says why.
bool BinFitsElement(const std::string& path, std::optional<uint64_t> size, std::string& error) {
    constexpr unsigned long long kMaxElementSize = 0xFFFFFFFFu;
    if (size && *size <= kMaxElementSize) return true;
    const std::string bytes = size ? Format("its %llu bytes", static_cast<unsigned long long>(*size)) : "its bytes";
    error = Format("fwpack: %s: %s are more than an element can hold (at most %llu bytes)%s\n", path.c_str(),
                   bytes.c_str(), kMaxElementSize, size ? "" : "; the reading stops there");
    return false;
}

// Reads a raw binary input at its load address; false with the line that
// says why in `error` when its bytes run past address 0xFFFFFFFF.
bool LoadBinInput(const InputFile& input, CImage& image, std::string& error) {
    const char* path = input.path.c_str();
    const std::optional<uint64_t> size = SizeAhead(input.path);
    if (size && *input.base + *size > (uint64_t{1} << 32)) {
        error = Format("fwpack: %s: its %llu bytes from 0x%08X run past address 0xFFFFFFFF\n", path,
                       static_cast<unsigned long long>(*size), unsigned{*input.base});
        return false;
    }
    if (size && !BinFitsElement(input.path, size, error)) return false;
    const FilePtr file = OpenInput(input.path);
    if (!file) return false;
    switch (ReadBin(file.get(), *input.base, image.GetList())) {
        case BinRead::kRead: return true;
        case BinRead::kUnreadable: return false;
        case BinRead::kTooLarge: return BinFitsElement(input.path, std::nullopt, error);
        case BinRead::kPastTheTop: break;
    }
    // A source whose size was not known ahead, or that never ends.
    error = Format("fwpack: %s: its bytes from 0x%08X run past address 0xFFFFFFFF after the first %llu\n", path,
                   unsigned{*input.base}, static_cast<unsigned long long>((uint64_t{1} << 32) - *input.base));
    return false;
}

// Whether the headers of an ELF input of known size let it be read; false
// with the line that says why, before its bytes are read.
bool ElfFitsElements(const std::string& path, std::string& error) {
    const std::optional<uint64_t> size = SizeAhead(path);
    std::string problem;
    if (!size || ElfHeadersFit(path, *size, problem)) return true;
    error = Format("fwpack: %s: %s\n", path.c_str(), problem.c_str());
    return false;
}

}  // namespace

std::unique_ptr<CImage> LoadInput(const InputFile& input, uint8_t alternate, std::string& error) {
    const char* path = input.path.c_str();
    auto image = std::make_unique<CImage>(alternate, false, nullptr);
    bool loaded = false;
    try {
        switch (input.kind) {
            case FileKind::kHex:
            case FileKind::kSrec: {
                const FilePtr file = OpenInput(input.path);
                loaded = file && (input.kind == FileKind::kHex ? ReadHex(file.get(), image->GetList())
                                                               : ReadSRec(file.get(), image->GetList()));
                break;
            }
            case FileKind::kBin: loaded = input.base && LoadBinInput(input, *image, error); break;
            case FileKind::kElf: {
                std::vector<uint8_t> bytes;
                if (!ElfFitsElements(input.path, error)) break;
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
