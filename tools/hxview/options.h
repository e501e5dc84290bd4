// hxview command line: where the server listens, the cameras to add by address, where downloads go.
#pragma once

#include <string>
#include <vector>

namespace hxview {

struct ViewOptions {
    // Loopback by default: the viewer controls cameras, so it is never reachable from elsewhere
    // unless asked for.
    std::string host = "127.0.0.1";
    int port = 8023;
    std::vector<std::string> addresses;
    std::string downloads = "hxview-downloads";
    bool trace = false;
    bool help = false;
};

// `args` without the program name; false with the reason in `error`.
bool parseViewOptions(const std::vector<std::string>& args, ViewOptions& options, std::string& error);
// The usage text; `howToStop` names the platform's way of stopping the viewer ("Ctrl-C").
std::string viewUsage(const char* howToStop);
// Whether `text` is a dotted IPv4 address: four decimal parts of 0 to 255, none with a leading zero.
bool isDottedAddress(const std::string& text);

} // namespace hxview
