#include "core/input/reused_thread.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace quorvane::input {

class ReusedThread::Kept {
public:
    // The kept thread, now the caller's until it calls give_back(); null
    // while another caller has it.
    static Kept* take();
    void run(std::function<void()> job);
    // Waits for the job and frees the thread for the next caller.
    void give_back();

private:
    void serve();

    std::condition_variable given_;
    std::condition_variable returned_;
    std::function<void()> job_;
    bool running_ = false;  // a job was given and has not returned
    bool taken_ = false;
};

namespace {

// Guards the kept thread's state as well as its making. Neither is ever
// destroyed: the thread waits for work until the process ends.
std::mutex kept_mutex;
ReusedThread::Kept* kept = nullptr;

#ifndef _WIN32
// A child of fork() has no kept thread: it makes its own when it needs one.
void register_fork_handlers() {
    static const int registered = pthread_atfork([] { kept_mutex.lock(); }, [] { kept_mutex.unlock(); },
                                                 [] {
                                                     kept = nullptr;
                                                     kept_mutex.unlock();
                                                 });
    (void)registered;
}
#endif

}  // namespace

ReusedThread::Kept* ReusedThread::Kept::take() {
#ifndef _WIN32
    register_fork_handlers();
#endif
    const std::lock_guard lock(kept_mutex);
    if (kept == nullptr) {
        auto made = std::make_unique<Kept>();
        std::thread(&Kept::serve, made.get()).detach();
        kept = made.release();
    }
    if (kept->taken_) return nullptr;
    kept->taken_ = true;
    return kept;
}

void ReusedThread::Kept::run(std::function<void()> job) {
    {
        const std::lock_guard lock(kept_mutex);
        job_ = std::move(job);
        running_ = true;
    }
    given_.notify_one();
}

void ReusedThread::Kept::give_back() {
    std::unique_lock lock(kept_mutex);
    returned_.wait(lock, [&] { return !running_; });
    taken_ = false;
}

void ReusedThread::Kept::serve() {
    std::unique_lock lock(kept_mutex);
    for (;;) {
        given_.wait(lock, [&] { return job_ != nullptr; });
        {
            // Gone before the caller learns the job has returned.
            const std::function<void()> job = std::exchange(job_, nullptr);
            lock.unlock();
            job();
        }
        lock.lock();
        running_ = false;
        returned_.notify_one();
    }
}

ReusedThread::~ReusedThread() { join(); }

void ReusedThread::start(std::function<void()> job) {
    if ((kept_ = Kept::take()) != nullptr) {
        kept_->run(std::move(job));
    } else {
        own_ = std::thread(std::move(job));
    }
}

void ReusedThread::join() {
    if (kept_ != nullptr) std::exchange(kept_, nullptr)->give_back();
    if (own_.joinable()) own_.join();
}

}  // namespace quorvane::input
