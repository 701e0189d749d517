// A thread that runs one job at a time.
#include "sys/background.h"

#include <utility>

BackgroundWorker::BackgroundWorker() : thread_([this] { Run(); }) {}

BackgroundWorker::~BackgroundWorker() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundWorker::Start(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void BackgroundWorker::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

void BackgroundWorker::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A job asked for runs even when the end is asked for too.
        changed_.wait(lock, [this] { return job_ || stop_; });
        if (!job_) return;
        const std::function<void()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
