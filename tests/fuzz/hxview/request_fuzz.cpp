// libFuzzer target: any bytes as an HTTP request to the viewer's server, every route installed,
// no camera behind it and no socket. Whatever arrives, the server answers or closes; it never
// crashes, and an event stream ends at once (the feed is closed).
#include <cstring>
#include <string>

#include <httplib.h>

#include "camera_hub.h"
#include "event_feed.h"
#include "http_api.h"

namespace {

// The request's bytes to read; what the server writes is dropped.
class InputStream : public httplib::Stream {
public:
    InputStream(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* out, std::size_t size) override
    {
        const std::size_t count = std::min(size, size_ - position_);
        std::memcpy(out, data_ + position_, count);
        position_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char*, std::size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 8023;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class FuzzServer : public httplib::Server {
public:
    void handle(httplib::Stream& stream)
    {
        bool closed = false;
        process_request(stream, true, closed, nullptr);
    }
};

struct Harness {
    hxview::EventFeed feed;
    hxview::CameraHub hub{feed, "/nonexistent/hxview-fuzz"};
    hxview::HttpApi api{hub, feed};
    FuzzServer server;
    Harness()
    {
        feed.close();
        api.install(server);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness* const harness = new Harness;
    InputStream stream(data, size);
    harness->server.handle(stream);
    return 0;
}
