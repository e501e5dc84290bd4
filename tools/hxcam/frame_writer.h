// hxcam frame writer: writes received frames on a thread of its own, so receiving goes on while a
// frame is on its way to disk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace hxcam {

// Jobs run in the order posted. Each job writes one frame and returns the bytes it wrote (0 when
// it failed); the writer counts them and the time it spent writing.
//
// Threads: post(), finish() and the counters on the command's thread; the jobs on the writer's.
class FrameWriter {
public:
    using Job = std::function<uint64_t()>;

    FrameWriter();
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    void post(Job job);
    // Waits until every posted job has run.
    void finish();

    uint64_t written() const; // frames written
    uint64_t bytes() const;
    double busySeconds() const;
    // MB/s while writing (0 before anything was written).
    double megabytesPerSecond() const;

private:
    void run();

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool running_ = false; // a job is being run
    bool closing_ = false;
    uint64_t written_ = 0;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::duration busy_{};
    std::thread thread_;
};

} // namespace hxcam
