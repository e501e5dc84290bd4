// Internal: the list of live LogCapture objects that the raw sink copies its lines to.
#pragma once

#include <string>

namespace HLV_THREAD {

class LogCapture;

void addLogObserver(LogCapture* capture);
void removeLogObserver(LogCapture* capture);
// Hands one raw-sink line (without line feed) to every live capture.
void notifyLogObservers(const std::string& line);

} // namespace HLV_THREAD
