// Internal: reports an exception that reached the root of a framework thread on the raw sink.
#pragma once

namespace halvex::thread {

// How a root treats the library's own exceptions.
enum class LibraryExceptions { Described, Unrecognised };

// Call only from inside a catch block: reports the exception being handled, naming the root
// ("MsgThread", "Ticker", "Thread").
void reportRootException(const char* root, LibraryExceptions library);

} // namespace halvex::thread
