// Reading a stream one block ahead of its reader, on a thread of its own:
// while the records of one block are decoded, the system copies the next one
// in, so that reading a large file costs little more than decoding it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

class ReadAhead {
public:
    // Starts the thread; throws std::system_error when the system has none to give.
    ReadAhead(std::FILE* file, std::size_t block_size);
    // Waits for a read in flight and ends the thread.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Begins reading the next block of the stream into `block`, which holds
    // the block size and is not touched until Wait() returns.
    void Start(uint8_t* block);
    // Waits for the read that Start() began and returns what fread gave;
    // `failed` tells whether the stream has an error.
    std::size_t Wait(bool& failed);

private:
    void Run();

    std::FILE* const file_;
    const std::size_t block_size_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint8_t* block_ = nullptr;  // where the requested read goes; null when none is asked for
    bool done_ = false;
    bool stop_ = false;
    std::size_t count_ = 0;
    bool failed_ = false;
    std::thread thread_;  // last: it starts once everything above is set
};
