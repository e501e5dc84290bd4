// hxview: a camera viewer in the browser. Serves one page and its JSON API on the library's
// public C interface until interrupted.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "camera_hub.h"
#include "event_feed.h"
#include "http_api.h"
#include "options.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    hxview::ViewOptions options;
    std::string error;
    if (!hxview::parseViewOptions(args, options, error)) {
        std::fprintf(stderr, "hxview: %s\n%s", error.c_str(), hxview::viewUsage());
        return 1;
    }
    if (options.help) {
        std::fputs(hxview::viewUsage(), stdout);
        return 0;
    }
    // SIGINT and SIGTERM are blocked in every thread and taken by one that waits for them, since
    // httplib's stop() is not safe in a signal handler.
    sigset_t signals;
    sigemptyset(&signals);
    for (int stop : {SIGINT, SIGTERM})
        sigaddset(&signals, stop);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
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
    std::thread watcher([&server, &feed, signals] {
        int taken = 0;
        sigwait(&signals, &taken);
        feed.close();
        server.stop();
    });
    std::printf("hxview: open http://%s:%d/\n", options.host.c_str(), port);
    std::fflush(stdout);
    server.listen_after_bind();
    // The server may have ended on its own: the watcher then takes this signal.
    kill(getpid(), SIGTERM);
    watcher.join();
    hub.stop();
    std::printf("hxview: stopped\n");
    return 0;
}
