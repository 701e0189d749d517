// The DfuSe file builder: the layout of prefix, targets and suffix, the suffix
// CRC pieced together from the parts as they are written, and the output
// written target by target, or in one go where it cannot be re-positioned.
#include "dfuse/dfu_file.h"

#include <algorithm>
#include <cstring>

#include "dfuse/dfu_format.h"
#include "image/image.h"
#include "sys/platform.h"

namespace {

using namespace dfu_format;

// The CRC runs over large elements in slices that the write then finds in
// the cache.
constexpr std::size_t kSlice = std::size_t{256} << 10;

bool WriteAll(std::FILE* stream, const uint8_t* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, stream) == size;
}

bool WriteAll(std::FILE* stream, const std::vector<uint8_t>& bytes) {
    return WriteAll(stream, bytes.data(), bytes.size());
}

}  // namespace

CDFUFile::CDFUFile(const char* path, uint16_t vendor, uint16_t product, uint16_t device)
    : vendor_(vendor), product_(product), device_(device), path_(path ? path : "") {
    // Opened, and emptied, at once: an unwritable output shows before any
    // work, and an existing file never keeps bytes of its former content.
    if (path) stream_ = platform::OpenLockedOutput(path, true);
    if (!stream_) {
        status_ = STATUS_FILE_OPEN_ERROR;
        return;
    }
    streaming_ = platform::IsPlainFile(stream_.get());
    if (!streaming_) return;
    // Element records of a few KiB each would otherwise cost a system call
    // apiece; large elements pass in slices of the same size. The buffer is
    // given, as some C libraries keep their own size when given none.
    stream_buffer_.reset(new char[kSlice]);
    std::setvbuf(stream_.get(), stream_buffer_.get(), _IOFBF, kSlice);
    // Room for the prefix, which is written last, once its sizes are known.
    write_failed_ = !WriteAll(stream_.get(), Prefix());
}

CDFUFile::CDFUFile(FilePtr stream, uint16_t vendor, uint16_t product, uint16_t device)
    : vendor_(vendor), product_(product), device_(device), stream_(std::move(stream)) {
    // Written in one go at the end, even where the stream is a plain file: it
    // may have been opened to append, and what lies before it is not ours.
    if (!stream_) status_ = STATUS_FILE_OPEN_ERROR;
}

CDFUFile::~CDFUFile() {
    if (!closed_) Close();
}

uint32_t CDFUFile::GetStatus() const { return status_; }

uint32_t CDFUFile::AddTarget(const CImage& image) {
    if (status_ != STATUS_SUCCESS) return status_;
    if (closed_ || target_count_ >= kMaxTargets) return STATUS_TARGET_REFUSED;

    // Size the target first, so that a refusal leaves the file untouched. A
    // list that is not loaded hands out nothing.
    const ElementList& list = image.GetList();
    const int32_t listed = image.IsLoaded() ? image.GetNbElements() : 0;
    uint64_t target_size = 0;
    uint32_t records = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const ImageElement* element = list.GetAt(i);
        if (!element) continue;
        target_size += kElementHeaderSize + element->size;
        ++records;
    }
    const uint64_t image_size = kPrefixSize + targets_length_ + kTargetPrefixSize + target_size;
    if (target_size > kMaxField || image_size > kMaxField ||
        (!streaming_ && image_size + kSuffixSize > held_.max_size())) {
        return STATUS_TARGET_REFUSED;
    }

    uint8_t prefix[kTargetPrefixSize] = {};
    std::copy(kTargetSignature, kTargetSignature + kTargetSignatureSize, prefix);
    prefix[kAlternateOffset] = image.GetAlternate();
    static_assert(CImage::kMaxNameLength == kNameFieldSize, "a target name fills at most the name field");
    char name[CImage::kMaxNameLength + 1] = {};
    const bool named = image.GetName(name);
    StoreLe32(prefix + kNamedOffset, named ? 1u : 0u);
    if (named) {
        const char* end = std::find(name, name + kNameFieldSize, '\0');
        std::memcpy(prefix + kNameFieldOffset, name, static_cast<std::size_t>(end - name));
    }
    StoreLe32(prefix + kTargetSizeOffset, static_cast<uint32_t>(target_size));
    StoreLe32(prefix + kElementCountOffset, records);

    if (!streaming_) held_.reserve(static_cast<std::size_t>(image_size - kPrefixSize));
    Emit(prefix, kTargetPrefixSize);
    for (int32_t i = 0; i < listed; ++i) {
        const ImageElement* element = list.GetAt(i);
        if (!element) continue;
        uint8_t header[kElementHeaderSize];
        StoreLe32(header, element->address);
        StoreLe32(header + 4, element->size);
        Emit(header, kElementHeaderSize);
        Emit(element->data, element->size);
    }
    ++target_count_;
    return status_;
}

void CDFUFile::Emit(const uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const std::size_t slice = std::min(kSlice, size - done);
        const uint8_t* bytes = data + done;
        targets_crc_ = Crc32(targets_crc_, bytes, slice);
        if (!streaming_) {
            held_.insert(held_.end(), bytes, bytes + slice);
        } else if (!write_failed_) {
            write_failed_ = std::fwrite(bytes, 1, slice, stream_.get()) != slice;
        }
        done += slice;
    }
    targets_length_ += size;
}

std::vector<uint8_t> CDFUFile::Prefix() const {
    std::vector<uint8_t> prefix(kPrefixSize, 0);
    std::copy(kSignature, kSignature + kSignatureSize, prefix.begin());
    prefix[kSignatureSize] = kFormatVersion;
    StoreLe32(prefix.data() + kImageSizeOffset, static_cast<uint32_t>(kPrefixSize + targets_length_));
    prefix[kTargetCountOffset] = target_count_;
    return prefix;
}

Suffix CDFUFile::MakeSuffix(const std::vector<uint8_t>& prefix) const {
    Suffix suffix = SuffixWithoutCrc(vendor_, product_, device_);
    // Every byte before the CRC field: the prefix, the targets and the
    // suffix's first twelve bytes.
    uint32_t crc = Crc32(0, prefix.data(), prefix.size());
    crc = CombineCrc32(crc, targets_crc_, targets_length_);
    crc = Crc32(crc, suffix.data(), kCrcOffset);
    StoreLe32(suffix.data() + kCrcOffset, SuffixCrc(crc));
    return suffix;
}

std::vector<uint8_t> CDFUFile::ReadBackTargets() const {
    if (stream_) std::fflush(stream_.get());
    std::vector<uint8_t> targets(static_cast<std::size_t>(targets_length_));
    std::size_t read = 0;
    // Through the open stream where the system needs it: there the lock on
    // the file keeps every other handle out, this program's own too.
    if (stream_ && platform::ReadBack(stream_.get(), kPrefixSize, targets.data(), targets.size(), read)) {
        targets.resize(read);
        return targets;
    }
    FilePtr file = platform::OpenFile(path_.c_str(), "rb");
    if (file && std::fseek(file.get(), static_cast<long>(kPrefixSize), SEEK_SET) == 0) {
        read = std::fread(targets.data(), 1, targets.size(), file.get());
    }
    targets.resize(read);
    return targets;
}

const std::vector<uint8_t>& CDFUFile::GetBuffer() const {
    snapshot_.clear();
    if (status_ != STATUS_SUCCESS) return snapshot_;
    const std::vector<uint8_t> prefix = Prefix();
    snapshot_ = prefix;
    if (streaming_) {
        const std::vector<uint8_t> targets = ReadBackTargets();
        snapshot_.insert(snapshot_.end(), targets.begin(), targets.end());
    } else {
        snapshot_.insert(snapshot_.end(), held_.begin(), held_.end());
    }
    const Suffix suffix = MakeSuffix(prefix);
    snapshot_.insert(snapshot_.end(), suffix.begin(), suffix.end());
    return snapshot_;
}

uint32_t CDFUFile::Close() {
    if (closed_) return close_status_;
    closed_ = true;
    close_status_ = status_;
    if (status_ != STATUS_SUCCESS) return close_status_;

    std::FILE* stream = stream_.get();
    const std::vector<uint8_t> prefix = Prefix();
    const Suffix suffix = MakeSuffix(prefix);
    bool written = !write_failed_;
    if (streaming_) {
        // The targets are on disk behind room for the prefix.
        written = written && WriteAll(stream, suffix.data(), suffix.size()) && std::fseek(stream, 0, SEEK_SET) == 0 &&
                  WriteAll(stream, prefix);
    } else {
        written = WriteAll(stream, prefix) && WriteAll(stream, held_) && WriteAll(stream, suffix.data(), suffix.size());
    }
    // The close flushes the last bytes, so its failure counts as much as the
    // writes'. An incomplete file goes while its lock is held: a run that
    // waits for the lock then finds the name free rather than losing its file.
    written = written && std::fflush(stream) == 0;
    if (!written && !path_.empty()) RemoveIncompleteOutput(path_);
    const bool closed = CloseStream();
    if (written && !closed && !path_.empty()) RemoveIncompleteOutput(path_);
    if (!written || !closed) close_status_ = STATUS_FILE_WRITE_ERROR;
    return close_status_;
}

void CDFUFile::Discard() {
    if (closed_) return;
    closed_ = true;
    close_status_ = status_;
    // Only a file this builder opened is removed: after a failed open the
    // path may name something that was never ours.
    if (status_ != STATUS_SUCCESS) return;
    if (!path_.empty()) RemoveIncompleteOutput(path_);
    CloseStream();
}

bool CDFUFile::CloseStream() { return CloseFile(std::move(stream_)); }
