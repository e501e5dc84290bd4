// hxcam frame writer thread.
#include "frame_writer.h"

#include <utility>

namespace hxcam {

FrameWriter::FrameWriter() : thread_([this] { run(); }) {}

FrameWriter::~FrameWriter()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FrameWriter::post(Job job)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void FrameWriter::finish()
{
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return jobs_.empty() && !running_; });
}

void FrameWriter::run()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        guard.unlock();
        const auto start = std::chrono::steady_clock::now();
        const uint64_t bytes = job();
        const auto spent = std::chrono::steady_clock::now() - start;
        guard.lock();
        running_ = false;
        busy_ += spent;
        written_ += bytes > 0 ? 1 : 0;
        bytes_ += bytes;
        changed_.notify_all();
    }
}

uint64_t FrameWriter::written() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
}

uint64_t FrameWriter::bytes() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

double FrameWriter::busySeconds() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return std::chrono::duration<double>(busy_).count();
}

double FrameWriter::megabytesPerSecond() const
{
    const double seconds = busySeconds();
    return seconds > 0 ? static_cast<double>(bytes()) / seconds / 1e6 : 0;
}

} // namespace hxcam
