// Output mechanics shared by the record writers and the DfuSe builder.
#include "sys/output_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

namespace {

// The output's own name within the temporary one is cut to this, so that
// the temporary name stays within what file systems allow for a name.
constexpr std::size_t kMaxNameInTemporary = 200;

// `name` cut to at most `limit` bytes, never inside a UTF-8 sequence.
std::string Shortened(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

std::string RandomTag() {
    static std::minstd_rand generator(
        static_cast<uint32_t>(std::random_device{}()) ^
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string tag(6, '0');
    for (char& c : tag) c = kDigits[generator() % 36];
    return tag;
}

// The temporary file that Ctrl-C or a request to terminate removes before
// the program ends: one at a time, named until it is forgotten.
std::atomic<const char*> g_remove_on_interrupt{nullptr};

const char* TakeRemovalOnInterrupt() { return g_remove_on_interrupt.exchange(nullptr); }

// False when another file is named already.
bool RemoveOnInterrupt(const char* path) {
    static const bool installed = (platform::InstallInterruptCleanup(TakeRemovalOnInterrupt), true);
    (void)installed;
    const char* none = nullptr;
    return g_remove_on_interrupt.compare_exchange_strong(none, path);
}

void ForgetOnInterrupt(const char* path) {
    const char* expected = path;
    g_remove_on_interrupt.compare_exchange_strong(expected, nullptr);
}

}  // namespace

void RemoveIncompleteOutput(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path file = platform::FsPath(path);
    std::error_code error;
    const fs::file_status own = fs::symlink_status(file, error);
    if (error) return;
    if (fs::is_regular_file(own)) {
        fs::remove(file, error);
    } else if (fs::is_symlink(own) && fs::is_regular_file(fs::status(file, error))) {
        fs::resize_file(file, 0, error);
    }
}

TextOutput::TextOutput(const char* path, OutputMode mode) : path_(path), binary_(mode == OutputMode::kBinary) {
    const platform::ExistingOutput existing = platform::InspectOutput(path);
    replaced_ = existing.replaced.empty() ? path_ : existing.replaced;
    if (existing.replaceable) file_ = CreateTemporary(existing.mode);
    replaces_file_ = file_ && existing.mode >= 0;
    if (!file_) file_ = platform::OpenLockedOutput(path, binary_);
}

TextOutput::TextOutput(FilePtr stream) : file_(std::move(stream)) {}

TextOutput::~TextOutput() {
    // Still open only when the writing was given up before Close().
    if (!file_) return;
    if (!temporary_.empty()) {
        file_.reset();
        RemoveTemporary();
        return;
    }
    // Removed while the file, and so its lock, is held: a run that waits
    // for the lock then finds the name free rather than losing its own file.
    if (!path_.empty()) RemoveIncompleteOutput(path_);
    file_.reset();
}

FilePtr TextOutput::CreateTemporary(int mode) {
    const std::size_t start = platform::FinalComponentStart(replaced_);
    // Hidden, and with an extension that no reader takes for firmware.
    const std::string stem = replaced_.substr(0, start) + "." + Shortened(replaced_.substr(start), kMaxNameInTemporary);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem + ".fwpack-" + RandomTag() + ".tmp";
        bool exists = false;
        FilePtr file = platform::CreateNewFile(candidate.c_str(), mode, exists, binary_);
        if (file) {
            temporary_ = std::move(candidate);
            removed_on_interrupt_ = RemoveOnInterrupt(temporary_.c_str());
            return file;
        }
        if (!exists) break;
    }
    return nullptr;
}

void TextOutput::RemoveTemporary() {
    if (removed_on_interrupt_) ForgetOnInterrupt(temporary_.c_str());
    removed_on_interrupt_ = false;
    platform::RemoveFile(temporary_.c_str());
    temporary_.clear();
}

void TextOutput::Bytes(const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = std::min(size, kChunkSize - used_);
        std::memcpy(chunk_.get() + used_, data, n);
        used_ += n;
        data += n;
        size -= n;
        if (used_ >= kChunkSize) Flush();
    }
}

void TextOutput::Flush() {
    if (used_ > 0 && std::fwrite(chunk_.get(), 1, used_, file_.get()) != used_) good_ = false;
    if (replaces_file_ && (written_ + used_) / kWritebackStep != written_ / kWritebackStep) {
        platform::StartWriteback(file_.get());
    }
    written_ += used_;
    used_ = 0;
}

bool TextOutput::Close() {
    if (!file_) return false;
    Flush();
    if (!temporary_.empty()) {
        const bool closed = CloseFile(std::move(file_));
        if (good_ && closed && PutInPlace()) {
            // Forgotten only now: an interrupt until here removes the temporary file.
            if (removed_on_interrupt_) ForgetOnInterrupt(temporary_.c_str());
            removed_on_interrupt_ = false;
            temporary_.clear();
            return true;
        }
        RemoveTemporary();
        return false;
    }
    // An incomplete file is removed while its lock is held (see the destructor).
    good_ = good_ && std::fflush(file_.get()) == 0;
    if (!good_ && !path_.empty()) RemoveIncompleteOutput(path_);
    const bool closed = CloseFile(std::move(file_));
    if (good_ && !closed && !path_.empty()) RemoveIncompleteOutput(path_);
    return good_ && closed;
}

bool TextOutput::PutInPlace() {
    // Under the lock of the file it replaces, when there is one, so that a
    // run that writes that file in place has finished or waits.
    const FilePtr old = platform::OpenExistingLocked(replaced_.c_str());
    if (platform::MoveOver(temporary_.c_str(), replaced_.c_str())) return true;
    // A folder that refuses the move although the file may be written (a
    // sticky folder such as /tmp, where the file is another user's): the
    // complete text is copied into it instead.
    if (!old || !CopyInto(old.get())) return false;
    platform::RemoveFile(temporary_.c_str());
    return true;
}

bool TextOutput::CopyInto(std::FILE* file) const {
    const FilePtr source = platform::OpenFile(temporary_.c_str(), "rb");
    if (!source || !platform::EmptyFile(file)) return false;
    std::vector<char> buffer(kChunkSize);
    bool good = true;
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), source.get());
        if (count > 0 && std::fwrite(buffer.data(), 1, count, file) != count) good = false;
        if (count < buffer.size()) break;
    }
    good = good && std::ferror(source.get()) == 0 && std::fflush(file) == 0;
    // What was copied in part is no output.
    if (!good) platform::EmptyFile(file);
    return good;
}
