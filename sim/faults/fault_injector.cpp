// Seeded fault decisions and the queue of delayed datagrams.
#include "sim/faults/fault_injector.h"

#include <algorithm>

#include "wire/control_packet.h"

namespace hxsim {
namespace {

constexpr std::array<uint16_t, 4> kRefusals{
    halvex::wire::camera_status::kNotImplemented, halvex::wire::camera_status::kInvalidParameter,
    halvex::wire::camera_status::kAccessDenied, halvex::wire::camera_status::kBusy};

// Mixes the camera's seed with a stream number so neighbouring seeds give unrelated streams.
uint64_t mix(uint64_t seed, uint64_t stream)
{
    uint64_t z = seed + 0x9E3779B97F4A7C15ull * (stream + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool isWriteAck(const Outgoing& datagram)
{
    const auto header = halvex::wire::decodeAckHeader(datagram.bytes);
    return header && header->answer == halvex::wire::control_code::kWriteRegAck && datagram.bytes.size() >= 12;
}

// The index sits in bytes 10 and 11 of a write acknowledge.
void lowerWriteIndex(Outgoing& datagram)
{
    const auto index = static_cast<uint16_t>((datagram.bytes[10] << 8 | datagram.bytes[11]) - 1);
    datagram.bytes[10] = static_cast<uint8_t>(index >> 8);
    datagram.bytes[11] = static_cast<uint8_t>(index);
}

} // namespace

uint64_t FaultRandom::next()
{
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double FaultRandom::unit()
{
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

FaultInjector::FaultInjector(const FaultConfig& faults, uint64_t seed)
    : faults_(faults), channels_{Channel{FaultRandom(mix(seed, 0)), {}, {}}, Channel{FaultRandom(mix(seed, 1)), {}, {}},
                                 Channel{FaultRandom(mix(seed, 2)), {}, {}}},
      requestRandom_(mix(seed, 3))
{
}

bool FaultInjector::silent(SimTime now) const
{
    if (faults_.mute) {
        return true;
    }
    return faults_.vanishAt && now >= *faults_.vanishAt && now < *faults_.vanishAt + faults_.vanishFor;
}

void FaultInjector::vanish(SimTime at, SimTime length)
{
    faults_.vanishAt = at;
    faults_.vanishFor = length;
}

std::optional<uint16_t> FaultInjector::refusal(std::span<const uint8_t> request)
{
    if (faults_.refusedWrite) {
        if (const auto write = halvex::wire::decodeWriteRegCmd(request)) {
            const auto [address, value] = *faults_.refusedWrite;
            for (const halvex::wire::RegisterPair& pair : write->pairs) {
                if (pair.address == address && pair.value == value) {
                    return halvex::wire::camera_status::kBusy;
                }
            }
        }
    }
    if (!requestRandom_.chance(faults_.channel(FaultChannel::Control).errorStatus)) {
        return std::nullopt;
    }
    return kRefusals[requestRandom_.below(kRefusals.size())];
}

void FaultInjector::submit(Outgoing datagram, SimTime now)
{
    const ChannelFaults& rules = faults_.channel(datagram.channel);
    Channel& lane = channel(datagram.channel);
    FaultRandom& random = lane.random;
    if (!rules.any()) {
        schedule(std::move(datagram), now);
        return;
    }
    // Every decision draws, whatever the earlier ones gave, so one fault never shifts the
    // random sequence of the others.
    const bool drop = random.chance(rules.drop);
    const bool corrupting = random.chance(rules.corrupt);
    const bool wrongIndex = random.chance(rules.wrongIndex);
    const bool duplicate = random.chance(rules.duplicate);
    const bool delay = random.chance(rules.delay);
    const bool reorder = random.chance(rules.reorder);
    const uint64_t span = static_cast<uint64_t>(std::max<SimTime::rep>(0, (rules.delayMax - rules.delayMin).count()));
    const SimTime delayBy = rules.delayMin + SimTime(static_cast<SimTime::rep>(random.below(span + 1)));
    if (drop) {
        return;
    }
    if (corrupting) {
        corrupt(datagram, random);
    }
    if (wrongIndex && isWriteAck(datagram)) {
        lowerWriteIndex(datagram);
    }
    const SimTime due = delay ? now + delayBy : now;
    if (duplicate) {
        schedule(datagram, due);
    }
    if (reorder && !lane.heldBack) {
        lane.heldBack = std::move(datagram);
        lane.heldSince = now;
        return;
    }
    schedule(std::move(datagram), due);
    releaseHeld(lane, due);
}

void FaultInjector::corrupt(Outgoing& datagram, FaultRandom& random) const
{
    if (datagram.bytes.empty()) {
        return;
    }
    // One to three neighbouring bytes get one bit flipped each, so the datagram always changes.
    const std::size_t size = datagram.bytes.size();
    const auto start = static_cast<std::size_t>(random.below(size));
    const auto flips = static_cast<std::size_t>(1 + random.below(std::min<std::size_t>(3, size)));
    for (std::size_t i = 0; i < flips; ++i) {
        datagram.bytes[(start + i) % size] ^= static_cast<uint8_t>(1u << random.below(8));
    }
}

// A held datagram goes out right after the one that overtook it (or on its own once it has
// waited long enough).
void FaultInjector::releaseHeld(Channel& lane, SimTime due)
{
    if (lane.heldBack) {
        schedule(std::move(*lane.heldBack), due);
        lane.heldBack.reset();
    }
}

void FaultInjector::schedule(Outgoing datagram, SimTime due)
{
    pending_.push_back(Pending{due, order_++, std::move(datagram)});
}

std::vector<Outgoing> FaultInjector::due(SimTime now)
{
    for (Channel& lane : channels_) {
        if (lane.heldBack && now >= lane.heldSince + kReorderHold) {
            releaseHeld(lane, now);
        }
    }
    std::vector<Pending> ready;
    auto split =
        std::stable_partition(pending_.begin(), pending_.end(), [now](const Pending& item) { return item.due > now; });
    std::move(split, pending_.end(), std::back_inserter(ready));
    pending_.erase(split, pending_.end());
    std::sort(ready.begin(), ready.end(),
              [](const Pending& a, const Pending& b) { return a.due != b.due ? a.due < b.due : a.order < b.order; });
    std::vector<Outgoing> out;
    out.reserve(ready.size());
    for (Pending& item : ready) {
        out.push_back(std::move(item.datagram));
    }
    return out;
}

SimTime FaultInjector::nextDue() const
{
    SimTime next = kNever;
    for (const Pending& item : pending_) {
        next = std::min(next, item.due);
    }
    for (const Channel& lane : channels_) {
        if (lane.heldBack) {
            next = std::min(next, lane.heldSince + kReorderHold);
        }
    }
    return next;
}

} // namespace hxsim
