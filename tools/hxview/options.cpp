// hxview command line parsing.
#include "options.h"

#include <arpa/inet.h>

#include <cstdlib>

namespace hxview {
namespace {

bool parseListen(const std::string& text, ViewOptions& options)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || colon + 6 < text.size())
        return false;
    const std::string host = text.substr(0, colon);
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return false;
    char* end = nullptr;
    const long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 0 || port > 65535)
        return false;
    options.host = host;
    options.port = static_cast<int>(port);
    return true;
}

} // namespace

bool parseViewOptions(const std::vector<std::string>& args, ViewOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--trace") {
            options.trace = true;
            continue;
        }
        if ((name != "--listen" && name != "--address" && name != "--downloads") || i + 1 == args.size()) {
            error = "unknown argument or missing value: " + name;
            return false;
        }
        const std::string& value = args[++i];
        in_addr address{};
        if (name == "--listen" && !parseListen(value, options)) {
            error = "--listen takes ADDRESS:PORT with a dotted IPv4 address, not '" + value + "'";
            return false;
        }
        if (name == "--address" && inet_pton(AF_INET, value.c_str(), &address) != 1) {
            error = "--address takes a dotted IPv4 address, not '" + value + "'";
            return false;
        }
        if (name == "--address")
            options.addresses.push_back(value);
        if (name == "--downloads")
            options.downloads = value;
    }
    return true;
}

const char* viewUsage()
{
    // Laid out as hxcam's and hxsim's: help2man makes the manual page from it.
    return "usage: hxview [--listen ADDRESS:PORT] [--address A]... [--downloads DIR] [--trace]\n"
           "\n"
           "Serves a page showing the cameras discovery finds, and those at the addresses given, and\n"
           "lets a browser set them up, record, look through the recording and download frames.\n"
           "SIGINT or SIGTERM stops it.\n"
           "\n"
           "Options:\n"
           "  --listen ADDRESS:PORT   where the page is served: http://ADDRESS:PORT/ (default\n"
           "                          127.0.0.1:8023; port 0 picks a free one)\n"
           "  --address A             a camera asked for at this IPv4 address (repeatable)\n"
           "  --downloads DIR         where \"download frames\" writes its TIFF files (default\n"
           "                          hxview-downloads)\n"
           "  --trace                 the library's full log on standard error\n"
           "  -h, --help              this text\n";
}

} // namespace hxview
