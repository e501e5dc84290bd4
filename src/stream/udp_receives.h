// The UDP image receiver's receives from its stream socket: datagrams into the bounce buffer, in
// batches where the system has them, and payload packets scattered straight into the host buffer;
// where the system coalesces the camera's datagrams, several of them per receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct iovec;
struct mmsghdr;
struct sockaddr_in;

namespace halvex::stream {

class CoalescedDatagrams;
class ScatteredBytes;
class UdpStream;

// The operating-system half of the UDP receiver (udp_receives_posix.cpp, udp_receives_windows.cpp):
// it reads the receiver's socket into the receiver's buffers and hands what it read to the
// receiver's parser. On the receiver's thread only.
class UdpReceives {
public:
    explicit UdpReceives(UdpStream& stream) : stream_(stream) {}

    // Asks the system to coalesce the camera's datagrams where it can and the switch allows;
    // says in the log which receive runs. At the receiver's start.
    void chooseReceive();
    // Reads what waits into the bounce buffer and parses it; false when nothing waited.
    bool readBatch();
    // Reads the next payload packets into the active host buffer; false when nothing waited.
    bool readIntoHostBuffer();

private:
    // What one coalesced receive brought (POSIX).
    struct Receipt {
        std::size_t length = 0;
        std::size_t segment = 0; // the system's segment size, 0 when it did not coalesce
        bool usable = false;     // whole, and from the camera
    };

    // Payload packets, at most `most`, that can go straight to their places in the host buffer
    // at once (POSIX).
    std::size_t payloadBatchSize(std::size_t most) const;
    bool readOneIntoHostBuffer();
    bool readPayloadBatch(std::size_t count);
    static void reassemble(uint8_t* slot, const uint8_t* placed, std::size_t size, std::size_t room);
    void acceptDatagram(const mmsghdr& header, const iovec& piece, const sockaddr_in& source);
    void noteReceiveError(int error);
    // The coalesced receive (POSIX): one receive of up to CoalescedDatagrams::MAX_RECEIVE bytes.
    bool readCoalesced();
    bool readCoalescedIntoHostBuffer();
    bool receiveCoalesced(std::span<const std::span<uint8_t>> pieces, Receipt& receipt);
    void handleDatagramsFrom(std::size_t first, const CoalescedDatagrams& datagrams, const ScatteredBytes& bytes);

    UdpStream& stream_;
    // Per packet of a batch: its header and what exceeds its place, or the whole packet.
    std::vector<uint8_t> batchSlots_;
    bool coalesced_ = false;
    // A coalesced receive's datagrams beyond those placed in the host buffer, and where the rest
    // of a receive is put back together when it does not continue the image as placed.
    std::vector<uint8_t> coalescedTail_;
    std::vector<uint8_t> coalescedWhole_;
};

} // namespace halvex::stream
