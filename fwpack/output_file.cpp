// Output mechanics shared by the record writers and the DfuSe builder.
#include "output_file.h"

#include <filesystem>
#include <system_error>

void RemoveIncompleteOutput(const std::string& path) {
    namespace fs = std::filesystem;
    if (IsStandardStream(path.c_str())) return;
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

TextOutput::TextOutput(const char* path) : path_(path), file_(platform::OpenFile(path, "w")) {
    chunk_.reserve(kChunkSize + 256);
}

void TextOutput::Flush() {
    if (!chunk_.empty() && std::fwrite(chunk_.data(), 1, chunk_.size(), file_.get()) != chunk_.size()) {
        good_ = false;
    }
    chunk_.clear();
}

bool TextOutput::Close() {
    if (!file_) return false;
    Flush();
    const bool closed = CloseFile(std::move(file_));
    if (good_ && closed) return true;
    RemoveIncompleteOutput(path_);
    return false;
}
