#include "sim/device/answered_requests.h"

#include <algorithm>

namespace hxsim {

std::optional<std::vector<uint8_t>> AnsweredRequests::repeatOf(const Endpoint& from,
                                                               std::span<const uint8_t> request) const
{
    for (const Host& host : hosts_) {
        if (!(host.endpoint == from))
            continue;
        for (const Answered& answered : host.answered) {
            if (std::equal(answered.request.begin(), answered.request.end(), request.begin(), request.end()))
                return answered.answer;
        }
    }
    return std::nullopt;
}

void AnsweredRequests::remember(const Endpoint& from, std::span<const uint8_t> request,
                                const std::vector<uint8_t>& answer)
{
    auto host = std::find_if(hosts_.begin(), hosts_.end(), [&](const Host& known) { return known.endpoint == from; });
    if (host == hosts_.end()) {
        if (hosts_.size() == HOSTS)
            hosts_.pop_front();
        hosts_.push_back(Host{from, {}});
        host = std::prev(hosts_.end());
    }
    host->answered.push_back(Answered{{request.begin(), request.end()}, answer});
    if (host->answered.size() > KEPT_PER_HOST)
        host->answered.pop_front();
}

void AnsweredRequests::forget(const Endpoint& from)
{
    std::erase_if(hosts_, [&](const Host& known) { return known.endpoint == from; });
}

} // namespace hxsim
