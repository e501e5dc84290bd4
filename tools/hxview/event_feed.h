// hxview event feed: the camera events the page follows, numbered, for the server-sent event stream.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace hxview {

// The library's Callback thread and the request threads post; each event-stream connection reads
// from its own position. Only the most recent events are kept: a page that falls that far behind
// reloads its state instead.
class EventFeed {
public:
    struct Event {
        uint64_t number = 0;
        std::string json;
    };

    void post(std::string json);
    // Events after `after`, waiting until there is one or the deadline has passed.
    std::vector<Event> after(uint64_t after, std::chrono::steady_clock::time_point deadline);
    // Wakes every waiting reader (the server is stopping).
    void close();
    bool closed() const;

private:
    static constexpr std::size_t kKept = 256;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    uint64_t next_ = 1;
    bool closed_ = false;
};

} // namespace hxview
