// The UDP image receiver's receives from its stream socket: datagrams into the bounce buffer, in
// batches where the system has them, and payload packets scattered straight into the host buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class UdpStream;
struct iovec;
struct mmsghdr;
struct sockaddr_in;

// The operating-system half of the UDP receiver (udp_receives_posix.cpp, udp_receives_windows.cpp):
// it reads the receiver's socket into the receiver's buffers and hands what it read to the
// receiver's parser. On the receiver's thread only.
class UdpReceives {
public:
    explicit UdpReceives(UdpStream& stream) : stream_(stream) {}

    // Reads what waits into the bounce buffer and parses it; false when nothing waited.
    bool readBatch();
    // Reads the next payload packets into the active host buffer; false when nothing waited.
    bool readIntoHostBuffer();

private:
    // Payload packets that can go straight to their places in the host buffer at once (POSIX).
    std::size_t payloadBatchSize() const;
    bool readOneIntoHostBuffer();
    bool readPayloadBatch(std::size_t count);
    static void reassemble(uint8_t* slot, const uint8_t* placed, std::size_t size, std::size_t room);
    void acceptDatagram(const mmsghdr& header, const iovec& piece, const sockaddr_in& source);
    void noteReceiveError(int error);

    UdpStream& stream_;
    // Per packet of a batch: its header and what exceeds its place, or the whole packet.
    std::vector<uint8_t> batchSlots_;
};
