// Ownership of descriptors and the manual-reset behaviour of event fds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/event_fd.h"
#include "platform/unique_fd.h"

namespace {

using halvex::platform::EventFd;
using halvex::platform::UniqueFd;

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    int fds[2] = {-1, -1};
};

TEST(UniqueFd, ClosesOnceWhenTheLastOwnerGoes)
{
    Pipe pipe;
    UniqueFd keep(pipe.fds[1]);
    {
        UniqueFd first(pipe.fds[0]);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), pipe.fds[0]);
        UniqueFd third;
        third = std::move(second);
        EXPECT_TRUE(isOpen(pipe.fds[0]));
    }
    EXPECT_FALSE(isOpen(pipe.fds[0]));
}

TEST(UniqueFd, ResetClosesTheOldDescriptorAndReleaseClosesNothing)
{
    Pipe pipe;
    UniqueFd owner(pipe.fds[0]);
    owner.reset(pipe.fds[1]);
    EXPECT_FALSE(isOpen(pipe.fds[0]));
    EXPECT_EQ(owner.release(), pipe.fds[1]);
    EXPECT_FALSE(owner);
    EXPECT_TRUE(isOpen(pipe.fds[1]));
    ::close(pipe.fds[1]);
    owner.reset(); // holding nothing: nothing to close
}

TEST(EventFd, StaysSetUntilResetHoweverOftenItWasSet)
{
    EventFd event;
    ASSERT_TRUE(event.valid()) << event.error();
    EXPECT_FALSE(event.isSet());
    EXPECT_TRUE(event.set());
    EXPECT_TRUE(event.set());
    EXPECT_TRUE(event.isSet());
    EXPECT_TRUE(event.isSet()) << "looking does not consume the event";
    EXPECT_TRUE(event.reset());
    EXPECT_FALSE(event.isSet());
    EXPECT_TRUE(event.reset()) << "resetting a clear event is harmless";
    EXPECT_NE(::fcntl(event.fd(), F_GETFL) & O_NONBLOCK, 0);
}

} // namespace
