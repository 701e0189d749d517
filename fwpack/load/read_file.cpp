// Reading inputs whole, within a bound; the causes of inputs that cannot be opened.
#include "load/read_file.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "dfuse/dfu_format.h"
#include "load/job.h"
#include "sys/open_cause.h"
#include "util/text_format.h"

FilePtr OpenInput(const std::string& path) {
    return path == kStandardStream ? platform::StandardStream(false, true) : platform::OpenFile(path.c_str(), "rb");
}

std::optional<uint64_t> SizeAhead(const std::string& path) {
    if (path == kStandardStream) return std::nullopt;
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(platform::FsPath(path), error);
    return error ? std::nullopt : std::optional<uint64_t>(size);
}

Error CannotOpenInput(const std::string& path) { return Error::CannotOpen(path, ReadFailureCause(path, errno)); }

Error OutOfMemory(const std::string& path) { return Error::Problem(path, "memory ran out while reading it"); }

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

std::shared_ptr<const SharedBytes> ReadDfuInput(const std::string& path, Error& error) {
    std::shared_ptr<SharedBytes> bytes;
    try {
        switch (ReadFileBytes(path, dfu_format::kMaxFileSize, bytes)) {
            case WholeFileRead::kRead: return bytes;
            case WholeFileRead::kUnreadable: error = CannotOpenInput(path); break;
            case WholeFileRead::kTooLong:
                error =
                    Error::Problem(path, Format("the file holds more than %llu bytes, the most a DfuSe file can hold",
                                                static_cast<unsigned long long>(dfu_format::kMaxFileSize)));
                break;
        }
    } catch (const std::bad_alloc&) {
        error = OutOfMemory(path);
    }
    return nullptr;
}
