// A thread for one job, taken from a thread the process keeps between jobs
// where that one is free. Starting a thread takes 20-40 us on a virtual
// machine, as long as inflating a small compressed file; waking the kept
// one takes about 3.
#pragma once

#include <functional>
#include <thread>

namespace quorvane::input {

class ReusedThread {
public:
    ReusedThread() = default;
    // Waits for the job, as join() does.
    ~ReusedThread();
    ReusedThread(const ReusedThread&) = delete;
    ReusedThread& operator=(const ReusedThread&) = delete;

    // Runs job on the kept thread if it is free, else on a thread of its own.
    // The job must not throw. Throws std::system_error where no thread can
    // be started.
    void start(std::function<void()> job);
    bool joinable() const noexcept { return kept_ != nullptr || own_.joinable(); }
    // Waits until the job has returned.
    void join();

    class Kept;

private:
    Kept* kept_ = nullptr;  // the kept thread, while our job is on it
    std::thread own_;
};

}  // namespace quorvane::input
