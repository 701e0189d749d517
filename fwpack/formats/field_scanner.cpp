// The record readers' shared character-level input.
#include "formats/field_scanner.h"

#include <new>
#include <system_error>
#include <utility>

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kCtrlZ = 0x1A;

// The buffer of the scanner that went last, kept for the next one: a fresh
// buffer would cost a fresh large page for every file that is read.
thread_local platform::GrowableBlock spare_buffer;
}  // namespace

FieldScanner::FieldScanner(std::FILE* file) : file_(file), buffer_(std::move(spare_buffer)) {
    if (!buffer_.Reserved()) buffer_ = platform::GrowableBlock(kBufferSize);
    if (!buffer_.MakeUsable(kBufferSize)) throw std::bad_alloc();
}

FieldScanner::~FieldScanner() {
    ahead_.reset();  // before the block it may be reading into goes
    if (!spare_buffer.Reserved()) spare_buffer = std::move(buffer_);
}

bool FieldScanner::Refill() {
    if (!file_) return false;
    pos_ = 0;
    if (ahead_) {
        ahead_->Wait();
        std::swap(buffer_, next_);
        end_ = next_end_;
        read_failed_ = next_failed_;
        if (end_ == kBufferSize) {
            ReadNextBlock();
        } else {
            // The end or an error: whatever follows is read here again.
            ahead_.reset();
        }
    } else {
        end_ = std::fread(buffer_.data(), 1, kBufferSize, file_);
        if (end_ == kBufferSize && first_block_) StartReadingAhead();
    }
    first_block_ = false;
    if (end_ == 0) {
        read_failed_ = std::ferror(file_) != 0;
        file_ = nullptr;  // nothing more comes
    }
    return end_ != 0;
}

void FieldScanner::StartReadingAhead() {
    // A file that fills the first block is likely long: the next ones are
    // read on a thread of their own. Where the system gives no thread or
    // memory, the reading goes on here.
    try {
        next_ = platform::GrowableBlock(kBufferSize);
        if (!next_.MakeUsable(kBufferSize)) return;
        ahead_ = std::make_unique<BackgroundWorker>();
    } catch (const std::system_error&) {
        return;
    } catch (const std::bad_alloc&) {
        return;
    }
    ReadNextBlock();
}

void FieldScanner::ReadNextBlock() {
    ahead_->Start([this] {
        next_end_ = std::fread(next_.data(), 1, kBufferSize, file_);
        next_failed_ = std::ferror(file_) != 0;
    });
}

int FieldScanner::NextRecordStart() {
    for (;;) {
        const int c = ReadChar();
        if (c == '\n') {
            ++line_;
        } else if (c == '\r') {
            ++line_;
            if (Peek() == '\n') ++pos_;
        } else if (c == kCtrlZ) {
            return kEnd;
        } else if (c != ' ') {
            return c;
        }
    }
}

FilePtr OpenForReading(const char* path) { return platform::OpenFile(path, "rb"); }
