// Runs of datagrams for segmented sends: every datagram of a run the size of its first but the
// last, which may be shorter; never more than the system takes in one send.
#include <gtest/gtest.h>

#include <vector>

#include "sim/stream/segment_runs.h"

namespace {

using hxsim::segmentRuns;
using Runs = std::vector<std::size_t>;

Runs runsOf(const std::vector<std::size_t>& sizes)
{
    Runs runs{99}; // anything left from before must go
    segmentRuns(sizes, runs);
    return runs;
}

TEST(SegmentRuns, AnImageGoesAsLeaderPayloadRunsAndTrailer)
{
    // Leader, ten 9000-byte payload datagrams and a shorter last one, trailer: 65507 bytes take
    // seven 9000-byte datagrams, the short one closes the next run.
    std::vector<std::size_t> sizes{48};
    sizes.insert(sizes.end(), 10, 9000);
    sizes.push_back(5000);
    sizes.push_back(12);
    EXPECT_EQ(runsOf(sizes), (Runs{1, 7, 4, 1}));
}

TEST(SegmentRuns, AShorterDatagramEndsItsRunAndALongerOneStartsAnother)
{
    EXPECT_EQ(runsOf({100, 100, 50, 100, 100}), (Runs{3, 2}));
    EXPECT_EQ(runsOf({50, 100, 100}), (Runs{1, 2}));
    EXPECT_EQ(runsOf({100, 50, 50}), (Runs{2, 1}));
}

TEST(SegmentRuns, NoRunHoldsMoreThanSixtyFourDatagrams)
{
    EXPECT_EQ(runsOf(std::vector<std::size_t>(100, 500)), (Runs{64, 36}));
}

TEST(SegmentRuns, EmptyDatagramsGoAloneAndNothingMakesNoRun)
{
    EXPECT_EQ(runsOf({0, 0, 100}), (Runs{1, 1, 1}));
    EXPECT_EQ(runsOf({100, 0}), (Runs{1, 1}));
    EXPECT_EQ(runsOf({}), Runs{});
}

} // namespace
