// hxview event feed.
#include "event_feed.h"

namespace hxview {

void EventFeed::post(std::string json)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back({next_++, std::move(json)});
        if (events_.size() > kKept)
            events_.pop_front();
    }
    changed_.notify_all();
}

std::vector<EventFeed::Event> EventFeed::after(uint64_t after, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_until(guard, deadline,
                        [&] { return closed_ || (!events_.empty() && events_.back().number > after); });
    std::vector<Event> found;
    for (const Event& event : events_) {
        if (event.number > after)
            found.push_back(event);
    }
    return found;
}

void EventFeed::close()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool EventFeed::closed() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

} // namespace hxview
