// A stream read one block ahead on a thread of its own.
#include "read_ahead.h"

ReadAhead::ReadAhead(std::FILE* file, std::size_t block_size)
    : file_(file), block_size_(block_size), thread_([this] { Run(); }) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::Start(uint8_t* block) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        block_ = block;
        done_ = false;
    }
    changed_.notify_all();
}

std::size_t ReadAhead::Wait(bool& failed) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    failed = failed_;
    return count_;
}

void ReadAhead::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A read asked for is finished even when the end is asked for too.
        changed_.wait(lock, [this] { return block_ != nullptr || stop_; });
        if (block_ == nullptr) return;
        uint8_t* const block = block_;
        lock.unlock();
        const std::size_t count = std::fread(block, 1, block_size_, file_);
        const bool failed = std::ferror(file_) != 0;
        lock.lock();
        count_ = count;
        failed_ = failed;
        block_ = nullptr;
        done_ = true;
        changed_.notify_all();
    }
}
