// A manual-reset event a polling thread waits on beside its sockets: the portable half.
#include "hlv_thread/wake.h"

namespace halvex::thread {

Wake::Wake() : handle_(openEvent(error_)) {}

Wake::~Wake()
{
    if (valid())
        closeEvent(handle_);
}

bool Wake::valid() const
{
    return handle_ != INVALID_HANDLE;
}

int Wake::error() const
{
    return error_;
}

Wake::Handle Wake::handle() const
{
    return handle_;
}

bool Wake::set()
{
    return valid() && setEvent(handle_, error_);
}

bool Wake::reset()
{
    return valid() && resetEvent(handle_, error_);
}

} // namespace halvex::thread
