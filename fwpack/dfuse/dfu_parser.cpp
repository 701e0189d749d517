// Reading DfuSe files: the suffix from the end, then the prefix, the targets
// and their element records from the start. Every length in the file is
// checked against the bytes left before it is used.
#include "dfuse/dfu_parser.h"

#include <algorithm>
#include <cstring>

#include "dfuse/dfu_format.h"
#include "util/text_format.h"

namespace {

using namespace dfu_format;

unsigned long long Ull(std::size_t value) { return value; }

class Parser {
public:
    Parser(const uint8_t* data, std::size_t size) : data_(data), size_(size) { info_.file_size = size; }

    DfuFileInfo Run() {
        if (ReadSuffix() && !info_.plain) ReadBody();
        return std::move(info_);
    }

private:
    // Keeps the first problem only: it is the one to mend first.
    void Problem(std::string text) {
        if (info_.problem.empty()) info_.problem = std::move(text);
    }

    bool ReadSuffix() {
        if (size_ < kSuffixSize) {
            Problem(Format("the file has %llu bytes, too few for a DFU suffix (16 bytes)", Ull(size_)));
            return false;
        }
        const uint8_t* suffix = data_ + size_ - kSuffixSize;
        if (std::memcmp(suffix + kSuffixSignatureOffset, kSuffixSignature, 3) != 0) {
            Problem("no DFU suffix: the signature \"UFD\" is not in its place before the last 5 bytes");
            return false;
        }
        DfuSuffixInfo& s = info_.suffix;
        s.release = LoadLe16(suffix);
        s.product = LoadLe16(suffix + 2);
        s.vendor = LoadLe16(suffix + 4);
        s.dfu_version = LoadLe16(suffix + kDfuVersionOffset);
        s.length = suffix[kSuffixLengthOffset];
        s.crc = LoadLe32(suffix + kCrcOffset);
        s.computed_crc = DfuCrc(data_, size_ - kSuffixSize + kCrcOffset);
        info_.suffix_read = true;
        if (s.length != kSuffixSize) Problem(Format("the DFU suffix length is %u, not 16", unsigned{s.length}));
        if (s.crc != s.computed_crc) {
            Problem(Format("the suffix CRC is 0x%08X, but the file's bytes give 0x%08X", unsigned{s.crc},
                           unsigned{s.computed_crc}));
        }
        const bool dfuse_prefix =
            size_ - kSuffixSize >= kSignatureSize && std::memcmp(data_, kSignature, kSignatureSize) == 0;
        info_.plain = (s.dfu_version == kPlainDfuVersion || s.dfu_version == kPlainDfu11Version) && !dfuse_prefix;
        if (s.dfu_version != kDfuSeVersion && !info_.plain) {
            Problem(Format("the DFU version in the suffix is 0x%04X, not 0x011A", unsigned{s.dfu_version}));
        }
        return true;
    }

    void ReadBody() {
        const std::size_t body_end = size_ - kSuffixSize;
        if (body_end < kPrefixSize) {
            Problem(Format("the file has %llu bytes before its suffix, too few for the DfuSe prefix (11 bytes)",
                           Ull(body_end)));
            return;
        }
        if (std::memcmp(data_, kSignature, kSignatureSize) != 0) {
            Problem("the signature is not \"DfuSe\"");
            return;
        }
        info_.version = data_[kSignatureSize];
        info_.image_size = LoadLe32(data_ + kImageSizeOffset);
        info_.target_count = data_[kTargetCountOffset];
        info_.prefix_read = true;
        if (info_.version != kFormatVersion) {
            Problem(Format("the format version is %u, not 1", unsigned{info_.version}));
            return;
        }
        info_.image_size_counts_suffix = info_.image_size == size_;
        if (info_.image_size != body_end && !info_.image_size_counts_suffix) {
            Problem(Format("the image size field says %lu bytes, but the file holds %llu before its suffix",
                           static_cast<unsigned long>(info_.image_size), Ull(body_end)));
        }
        std::size_t at = kPrefixSize;
        for (unsigned t = 0; t < info_.target_count; ++t) {
            if (at == body_end) {
                Problem(Format("the target count says %u, but the file ends after %u target%s",
                               unsigned{info_.target_count}, t, t == 1 ? "" : "s"));
                return;
            }
            if (!ReadTarget(t, at, body_end)) return;
        }
        if (at != body_end) {
            Problem(Format("the target count says %u, but %llu more bytes follow the last target",
                           unsigned{info_.target_count}, Ull(body_end - at)));
        }
    }

    // Reads the target at `at` and moves `at` behind it; false when the
    // reading cannot go on.
    bool ReadTarget(unsigned index, std::size_t& at, std::size_t body_end) {
        if (body_end - at < kTargetPrefixSize) {
            Problem(Format("target %u at offset %llu: its prefix is cut off (%llu of 274 bytes)", index, Ull(at),
                           Ull(body_end - at)));
            return false;
        }
        const uint8_t* prefix = data_ + at;
        if (std::memcmp(prefix, kTargetSignature, kTargetSignatureSize) != 0) {
            Problem(Format("target %u at offset %llu: the signature is not \"Target\"", index, Ull(at)));
            return false;
        }
        DfuTargetInfo target;
        target.offset = at;
        target.alternate = prefix[kAlternateOffset];
        target.named = LoadLe32(prefix + kNamedOffset);
        if (target.named != 0) {
            const char* name = reinterpret_cast<const char*>(prefix + kNameFieldOffset);
            target.name.assign(name, std::find(name, name + kNameFieldSize, '\0'));
        }
        target.target_size = LoadLe32(prefix + kTargetSizeOffset);
        target.element_count = LoadLe32(prefix + kElementCountOffset);
        info_.targets.push_back(target);
        DfuTargetInfo& t = info_.targets.back();
        if (t.named > 1) {
            Problem(Format("target %u: the named flag is %lu, not 0 or 1", index, static_cast<unsigned long>(t.named)));
        }

        const std::size_t start = at + kTargetPrefixSize;
        if (t.target_size > body_end - start) {
            Problem(Format("target %u: the target size field says %lu bytes, but only %llu follow", index,
                           static_cast<unsigned long>(t.target_size), Ull(body_end - start)));
            return false;
        }
        const std::size_t end = start + t.target_size;
        // Each record takes 8 bytes at least, which bounds the room to reserve.
        t.elements.reserve(std::min<std::size_t>(t.element_count, t.target_size / kElementHeaderSize));
        std::size_t pos = start;
        for (uint32_t e = 0; e < t.element_count; ++e) {
            if (end - pos < kElementHeaderSize) {
                Problem(
                    Format("target %u element %lu at offset %llu: the element record is cut off by the end "
                           "of its target (%llu of 8 header bytes)",
                           index, static_cast<unsigned long>(e), Ull(pos), Ull(end - pos)));
                return false;
            }
            DfuElementInfo element;
            element.address = LoadLe32(data_ + pos);
            element.size = LoadLe32(data_ + pos + 4);
            element.data_offset = pos + kElementHeaderSize;
            if (element.size > end - element.data_offset) {
                Problem(
                    Format("target %u element %lu at offset %llu: its %lu data bytes run past the end of its "
                           "target (%llu bytes left)",
                           index, static_cast<unsigned long>(e), Ull(pos), static_cast<unsigned long>(element.size),
                           Ull(end - element.data_offset)));
                return false;
            }
            t.elements.push_back(element);
            pos = element.data_offset + element.size;
        }
        if (pos != end) {
            Problem(Format("target %u: its %lu element records take %llu bytes, but the target size field says %lu",
                           index, static_cast<unsigned long>(t.element_count), Ull(pos - start),
                           static_cast<unsigned long>(t.target_size)));
        } else {
            t.complete = true;
        }
        at = end;
        return true;
    }

    const uint8_t* data_;
    std::size_t size_;
    DfuFileInfo info_;
};

}  // namespace

DfuFileInfo ParseDfuFile(const uint8_t* data, std::size_t size) {
    if (data == nullptr) size = 0;
    return Parser(data, size).Run();
}
