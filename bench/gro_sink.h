// The raw sink's coalesced twin: a plain socket that asks the system for the camera's datagrams
// several at a time (UDP_GRO) and reads them 64 KiB per call, for the pipeline benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_camera.h"

namespace stream_bench {

// Asks for coalesced receives on the UDP socket fd; exits the benchmark when the system refuses.
void askCoalescedReceive(int fd);
// Reads every receive waiting on fd into the ring `sink` as it arrived (headers and all, from
// `offset`), cuts it at the segment size the system reports, adds the payload bytes of its
// datagrams to `bytes` and returns how many trailers (ends of images) it read.
unsigned drainCoalescedPayload(int fd, Bytes& sink, std::size_t& offset, uint64_t& bytes);

} // namespace stream_bench
