// hxview: a camera viewer in the browser. Serves one page and its JSON API on the library's
// public C interface until interrupted.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "camera_hub.h"
#include "event_feed.h"
#include "http_api.h"
#include "options.h"
#include "program_stop/stop_request.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    hxview::ViewOptions options;
    std::string error;
    if (!hxview::parseViewOptions(args, options, error)) {
        std::fprintf(stderr, "hxview: %s\n%s", error.c_str(),
                     hxview::viewUsage(halvex::program_stop::StopRequest::how()).c_str());
        return 1;
    }
    if (options.help) {
        std::fputs(hxview::viewUsage(halvex::program_stop::StopRequest::how()).c_str(), stdout);
        return 0;
    }
    // Before any thread starts: the request is taken by the one thread that waits for it.
    halvex::program_stop::StopRequest stop;
    hxview::EventFeed feed;
    hxview::CameraHub hub(feed, options.downloads);
    if (!hub.start(options.trace)) {
        std::fprintf(stderr, "hxview: the library would not register a client\n");
        return 2;
    }
    for (const std::string& address : options.addresses)
        hub.add(address);

    httplib::Server server;
    // Each open page holds one worker for its event stream and one for its live image.
    server.new_task_queue = [] { return new httplib::ThreadPool(24); };
    hxview::HttpApi api(hub, feed);
    api.install(server);
    const int port = options.port == 0                                 ? server.bind_to_any_port(options.host)
                     : server.bind_to_port(options.host, options.port) ? options.port
                                                                       : -1;
    if (port < 0) {
        std::fprintf(stderr, "hxview: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        hub.stop();
        return 2;
    }
    std::thread watcher([&server, &feed, &stop] {
        stop.wait();
        feed.close();
        server.stop();
    });
    std::printf("hxview: open http://%s:%d/\n", options.host.c_str(), port);
    std::fflush(stdout);
    server.listen_after_bind();
    // The server may have ended on its own: the watcher then takes this request.
    stop.ask();
    watcher.join();
    hub.stop();
    std::printf("hxview: stopped\n");
    return 0;
}
