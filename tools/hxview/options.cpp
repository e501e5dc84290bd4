// hxview command line parsing.
#include "options.h"

#include <cstdlib>

namespace hxview {
namespace {

bool parseListen(const std::string& text, ViewOptions& options)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || colon + 6 < text.size())
        return false;
    const std::string host = text.substr(0, colon);
    if (!isDottedAddress(host))
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
        if (name == "--listen" && !parseListen(value, options)) {
            error = "--listen takes ADDRESS:PORT with a dotted IPv4 address, not '" + value + "'";
            return false;
        }
        if (name == "--address" && !isDottedAddress(value)) {
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

// Written out rather than left to the system's address parser, whose rules differ between
// platforms (Windows' takes what Linux's refuses and the other way round).
bool isDottedAddress(const std::string& text)
{
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at == text.size() || text[at++] != '.'))
            return false;
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9')
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || value > 255 || (at - start > 1 && text[start] == '0'))
            return false;
    }
    return at == text.size();
}

std::string viewUsage(const char* howToStop)
{
    // Laid out as hxcam's and hxsim's: help2man makes the manual page from it.
    return std::string("usage: hxview [--listen ADDRESS:PORT] [--address A]... [--downloads DIR] [--trace]\n"
                       "\n"
                       "Serves a page showing the cameras discovery finds, and those at the addresses given, and\n"
                       "lets a browser set them up, record, look through the recording and download frames.\n") +
           howToStop +
           " stops it.\n"
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
