// The io_uring sink with liburing: a multishot receive on the plain sink's socket, into a ring of
// provided buffers that each completion hands back at once.
#include "uring_sink.h"

#include <liburing.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "host_memory.h"
#include "stream_camera.h"

namespace stream_bench {

namespace {

constexpr unsigned kGroup = 1;
constexpr unsigned kSubmissions = 8;

std::string failed(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

} // namespace

UringSink::UringSink() : ring_(std::make_unique<io_uring>()) {}

std::unique_ptr<UringSink> UringSink::open(std::string& why)
{
    std::unique_ptr<UringSink> sink(new UringSink);
    if (!sink->setUp(why))
        return nullptr;
    return sink;
}

// Completions are only posted when the sink asks for them (deferred task work), so receiving runs
// on the sink's own thread, in its own time, as the library's receiver does.
bool UringSink::setUp(std::string& why)
{
    fd_ = rawSinkSocket(port_);
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN | IORING_SETUP_CQSIZE;
    params.cq_entries = 2 * kBuffers;
    if (const int error = io_uring_queue_init_params(kSubmissions, ring_.get(), &params); error < 0) {
        why = failed("an io_uring", -error);
        return false;
    }
    ringReady_ = true;
    buffersBytes_ = kBuffers * sizeof(io_uring_buf);
    void* mapped = mmap(nullptr, buffersBytes_, PROT_READ | PROT_WRITE, MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
    if (mapped == MAP_FAILED) {
        why = failed("the provided-buffer ring", errno);
        return false;
    }
    buffers_ = static_cast<io_uring_buf_ring*>(mapped);
    io_uring_buf_ring_init(buffers_);
    io_uring_buf_reg registration{};
    registration.ring_addr = reinterpret_cast<uint64_t>(buffers_);
    registration.ring_entries = kBuffers;
    registration.bgid = kGroup;
    if (const int error = io_uring_register_buf_ring(ring_.get(), &registration, 0); error < 0) {
        why = failed("registering the provided buffers", -error);
        return false;
    }
    memory_.assign(std::size_t(kBuffers) * kLargestDatagram, 0x33);
    for (unsigned id = 0; id < kBuffers; ++id)
        io_uring_buf_ring_add(buffers_, memory_.data() + std::size_t(id) * kLargestDatagram, kLargestDatagram,
                              uint16_t(id), io_uring_buf_ring_mask(kBuffers), int(id));
    io_uring_buf_ring_advance(buffers_, int(kBuffers));
    if (!arm()) {
        why = "the multishot receive could not be submitted";
        return false;
    }
    return true;
}

UringSink::~UringSink()
{
    if (ringReady_)
        io_uring_queue_exit(ring_.get());
    if (buffers_ != nullptr)
        munmap(buffers_, buffersBytes_);
    if (fd_ >= 0)
        close(fd_);
}

bool UringSink::arm()
{
    io_uring_sqe* entry = io_uring_get_sqe(ring_.get());
    if (entry == nullptr)
        return false;
    io_uring_prep_recv_multishot(entry, fd_, nullptr, 0, 0);
    entry->flags |= IOSQE_BUFFER_SELECT;
    entry->buf_group = kGroup;
    armed_ = io_uring_submit(ring_.get()) == 1;
    return armed_;
}

// A receive that ran out of provided buffers ends (its datagrams wait in the socket) and is
// armed again once the buffers are back.
bool UringSink::take(std::chrono::milliseconds limit, HostMemory& memory)
{
    if (!armed_ && !arm())
        return false;
    io_uring_cqe* completion = nullptr;
    __kernel_timespec timeout{limit.count() / 1000, (limit.count() % 1000) * 1'000'000};
    if (io_uring_wait_cqe_timeout(ring_.get(), &completion, &timeout) != 0)
        return false;
    unsigned taken = 0;
    for (;;) {
        unsigned before = taken;
        if (!reap(memory, taken))
            return taken > 0;
        if (!armed_ && !arm())
            return taken > 0;
        if (taken == before)
            return true;
        io_uring_get_events(ring_.get());
    }
}

bool UringSink::reap(HostMemory& memory, unsigned& taken)
{
    unsigned head = 0;
    unsigned seen = 0;
    int returned = 0;
    bool healthy = true;
    io_uring_cqe* completion = nullptr;
    io_uring_for_each_cqe(ring_.get(), head, completion)
    {
        ++seen;
        if (completion->res > 0 && (completion->flags & IORING_CQE_F_BUFFER) != 0) {
            const unsigned id = completion->flags >> IORING_CQE_BUFFER_SHIFT;
            uint8_t* data = memory_.data() + std::size_t(id) * kLargestDatagram;
            memory.copy(std::span<const uint8_t>(data, std::size_t(completion->res)));
            io_uring_buf_ring_add(buffers_, data, kLargestDatagram, uint16_t(id), io_uring_buf_ring_mask(kBuffers),
                                  returned++);
            ++taken;
        }
        if ((completion->flags & IORING_CQE_F_MORE) == 0)
            armed_ = false;
        if (completion->res < 0 && completion->res != -ENOBUFS)
            healthy = false;
    }
    io_uring_buf_ring_advance(buffers_, returned);
    io_uring_cq_advance(ring_.get(), seen);
    return healthy;
}

} // namespace stream_bench
