// One piece of work at a time on a thread of its own: a reader has the next
// block of a long input read while it decodes the one before, so that the
// system's copying and the program's own decoding overlap.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundWorker {
public:
    // Starts the thread; throws std::system_error when the system gives none.
    BackgroundWorker();
    // Waits for the job in flight and ends the thread.
    ~BackgroundWorker();
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;

    // Runs `job` on the thread. The job before must have been waited for.
    void Start(std::function<void()> job);
    // Waits until the job started last has run; what it wrote is then seen here.
    void Wait();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;  // the job asked for; empty while none waits
    bool busy_ = false;          // from Start() until the job has run
    bool stop_ = false;
    std::thread thread_;  // last: it starts once everything above is set
};
