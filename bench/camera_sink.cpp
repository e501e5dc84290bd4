// The raw sinks this system can have.
#include "camera_sink.h"

#include "gro_sink.h"
#include "plain_sink.h"
#include "ring_sink.h"
#if defined(HX_BENCH_URING)
#  include "uring_sink.h"
#endif

namespace stream_bench {

namespace {

// Small enough that a block fills within a few packets at the line rate, large enough that each
// hand-over carries several.
constexpr std::size_t kRingBlockBytes = std::size_t{64} << 10;

} // namespace

std::unique_ptr<CameraSink> makeCameraSink(SinkKind kind, uint32_t camera, uint32_t host, std::string& why)
{
    switch (kind) {
    case SinkKind::Plain: return std::make_unique<PlainSink>();
    case SinkKind::Coalesced: return CoalescedSink::open(why);
    case SinkKind::PacketRing: return PacketRingSink::open(camera, host, kRingBlockBytes, why);
    case SinkKind::Uring:
#if defined(HX_BENCH_URING)
        return UringSink::open(why);
#else
        why = "built without liburing";
        return nullptr;
#endif
    }
    why = "no such sink";
    return nullptr;
}

} // namespace stream_bench
