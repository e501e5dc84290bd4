// The TCP receiver's read-ahead: bytes put back come before those still pending, the scan's window
// starts at the front of the scratch area, and nothing pending is lost when the window moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "stream/tcp_pending_bytes.h"

using namespace halvex::stream;

namespace {

std::vector<uint8_t> counting(std::size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Reads `count` bytes into the window's room, numbered from `first`.
void fill(TcpPendingBytes& pending, std::size_t count, uint8_t first)
{
    const std::span<uint8_t> room = pending.compactForScan();
    ASSERT_GE(room.size(), count);
    const std::vector<uint8_t> bytes = counting(count, first);
    std::copy(bytes.begin(), bytes.end(), room.begin());
    pending.filled(count);
}

std::vector<uint8_t> takeAll(TcpPendingBytes& pending)
{
    std::vector<uint8_t> taken(pending.size());
    EXPECT_EQ(pending.take(taken.data(), taken.size()), taken.size());
    return taken;
}

TEST(TcpPendingBytes, BytesPutBackAreTakenBeforeThoseStillPending)
{
    TcpPendingBytes pending;
    fill(pending, 10, 0);
    pending.consumeTo(6); // 6..9 still pending
    const std::vector<uint8_t> back = {100, 101, 102};
    pending.putBack(back);
    EXPECT_EQ(takeAll(pending), (std::vector<uint8_t>{100, 101, 102, 6, 7, 8, 9}));
    EXPECT_EQ(pending.size(), 0u);

    // A take asks for less than is pending: the rest stays, in order.
    fill(pending, 4, 20);
    uint8_t two[2] = {};
    EXPECT_EQ(pending.take(two, 2), 2u);
    EXPECT_EQ(two[0], 20);
    EXPECT_EQ(two[1], 21);
    EXPECT_EQ(takeAll(pending), (std::vector<uint8_t>{22, 23}));
    // Nothing pending gives nothing.
    EXPECT_EQ(pending.take(two, 2), 0u);
}

TEST(TcpPendingBytes, TheScanWindowMovesWithoutLosingWhatIsPending)
{
    TcpPendingBytes pending;
    fill(pending, 8, 0);
    pending.consumeTo(5); // a scan keeps its last bytes, 5..7, for the next window
    fill(pending, 3, 50);
    EXPECT_EQ(std::vector<uint8_t>(pending.window().begin(), pending.window().end()),
              (std::vector<uint8_t>{5, 6, 7, 50, 51, 52}));
    EXPECT_EQ(pending.size(), 6u);

    // A full window has no room left; the bytes in it all stay pending.
    const std::size_t whole = TcpPendingBytes::SCAN_WINDOW + TcpPendingBytes::KEPT_FOR_NEXT_SCAN;
    fill(pending, whole - 6, 0);
    EXPECT_TRUE(pending.compactForScan().empty());
    EXPECT_EQ(pending.size(), whole);

    pending.clear();
    EXPECT_EQ(pending.size(), 0u);
    EXPECT_EQ(pending.compactForScan().size(), whole);
}

} // namespace
