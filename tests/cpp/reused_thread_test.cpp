#include "core/input/reused_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quorvane::input {
namespace {

std::thread::id run_and_join(ReusedThread& thread) {
    std::thread::id ran_on;
    thread.start([&] { ran_on = std::this_thread::get_id(); });
    thread.join();
    return ran_on;
}

TEST(ReusedThread, RunsJobAfterJobOnTheSameThread) {
    ReusedThread first;
    ReusedThread second;
    const std::thread::id kept = run_and_join(first);
    EXPECT_NE(kept, std::this_thread::get_id());
    EXPECT_EQ(run_and_join(second), kept);
    EXPECT_FALSE(first.joinable());
}

TEST(ReusedThread, AJobStartedWhileTheKeptThreadIsBusyGetsAThreadOfItsOwn) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> finished = 0;
    ReusedThread busy;
    std::thread::id busy_on;
    busy.start([&] {
        busy_on = std::this_thread::get_id();
        released.wait();
        ++finished;
    });
    ReusedThread other;
    std::thread::id other_on;
    other.start([&] {
        other_on = std::this_thread::get_id();
        ++finished;
    });
    other.join();
    EXPECT_EQ(finished, 1);
    release.set_value();
    busy.join();
    EXPECT_EQ(finished, 2);
    EXPECT_NE(busy_on, other_on);
}

TEST(ReusedThread, JoinWaitsForTheJob) {
    std::atomic<bool> done = false;
    {
        ReusedThread thread;
        thread.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            done = true;
        });
    }
    EXPECT_TRUE(done);
}

#ifndef _WIN32
// The kept thread does not survive fork(): the child must start its own
// rather than hand its job to a thread that is not there.
TEST(ReusedThread, RunsAJobInAChildOfFork) {
    ReusedThread parent;
    run_and_join(parent);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        alarm(10);
        ReusedThread thread;
        bool ran = false;
        thread.start([&] { ran = true; });
        thread.join();
        _exit(ran ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace quorvane::input
