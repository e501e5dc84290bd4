// hxview HTTP API.
#include "http_api.h"

#include <chrono>
#include <exception>

#include "api_request.h"
#include "json_text.h"
#include "page_files.h"

namespace hxview {
namespace {

// Request bodies are a few settings; anything larger is no request of the page.
constexpr std::size_t kMaxBody = 16 * 1024;
// An event stream with nothing to say sends a comment this often, which also finds closed pages.
constexpr auto kQuietEvents = std::chrono::seconds(1);
// Event streams at once: with the workers left for the pages' other requests.
constexpr int kMaxEventStreams = 8;

void send(httplib::Response& response, const Reply& reply)
{
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
    response.set_header("Cache-Control", "no-store");
    response.set_content(reply.body, reply.type.c_str());
}

const char* const kCamera = R"(/api/cameras/(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}))";

std::string route(const char* tail)
{
    return std::string(kCamera) + tail;
}

// The ZIP file's pieces as they come; a failed download cuts the file off, so that the browser
// reports it failed instead of keeping a shorter archive.
void streamZip(httplib::Response& response, const std::shared_ptr<halvex::hxview::ZipDownload>& zip,
               const std::string& name, const EventFeed& feed)
{
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    response.set_chunked_content_provider(
        "application/zip",
        [zip, &feed](size_t, httplib::DataSink& sink) {
            std::string bytes;
            using Piece = halvex::hxview::ZipDownload::Piece;
            const Piece piece = zip->next(bytes, std::chrono::steady_clock::now() + kQuietEvents);
            if (piece == Piece::Failed || feed.closed())
                return false;
            if (!bytes.empty() && !sink.write(bytes.data(), bytes.size()))
                return false;
            if (piece == Piece::End)
                sink.done();
            return true;
        },
        [zip](bool done) {
            if (!done)
                zip->abandon();
        });
}

} // namespace

HttpApi::HttpApi(CameraHub& hub, EventFeed& feed) : hub_(hub), feed_(feed) {}

template <typename Action>
void HttpApi::withCamera(const httplib::Request& request, httplib::Response& response, Action action)
{
    std::shared_ptr<CameraView> view = hub_.view(request.matches[1]);
    if (!view) {
        send(response, errorReply(404, "no camera is known at " + std::string(request.matches[1])));
        return;
    }
    send(response, action(*view));
}

void HttpApi::install(httplib::Server& server)
{
    server.set_payload_max_length(kMaxBody);
    for (const PageFile& file : pageFiles()) {
        const auto serve = [&file](const httplib::Request&, httplib::Response& response) {
            response.set_content(reinterpret_cast<const char*>(file.data), file.size, file.type);
        };
        server.Get(file.path == std::string("/index.html") ? "/" : file.path, serve);
        // Browsers ask for /favicon.ico whatever the page names.
        if (file.path == std::string("/favicon.png"))
            server.Get("/favicon.ico", serve);
    }
    camerasRoutes(server);
    cameraRoutes(server);
    imageRoutes(server);
    fileRoutes(server);
    server.Get("/api/events",
               [this](const httplib::Request& request, httplib::Response& response) { events(request, response); });
    server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (response.body.empty())
            send(response, errorReply(response.status, "cannot " + request.method + " " + request.path.substr(0, 64)));
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, const std::exception_ptr& error) {
            std::string text = "unknown error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& caught) {
                text = caught.what();
            } catch (...) {
            }
            std::fprintf(stderr, "hxview: request failed: %s\n", text.c_str());
            send(response, errorReply(500, "the server could not answer: " + text));
        });
}

void HttpApi::camerasRoutes(httplib::Server& server)
{
    server.Get("/api/cameras", [this](const httplib::Request&, httplib::Response& response) {
        send(response, Reply{200, hub_.camerasJson()});
    });
    server.Post("/api/cameras", [this](const httplib::Request& request, httplib::Response& response) {
        std::string address;
        std::string error;
        if (!parseAddressBody(request.body, address, error)) {
            send(response, errorReply(400, error));
            return;
        }
        if (!hub_.add(address)) {
            send(response, errorReply(503, "the viewer has no library client"));
            return;
        }
        send(response, Reply{202, writeJson(message("adding", "looking for a camera at " + address))});
    });
}

void HttpApi::cameraRoutes(httplib::Server& server)
{
    server.Get(route("/state"), [this](const httplib::Request& request, httplib::Response& response) {
        withCamera(request, response, [](CameraView& view) { return view.state(); });
    });
    server.Get(route("/capture"), [this](const httplib::Request& request, httplib::Response& response) {
        withCamera(request, response, [](CameraView& view) { return view.capture(); });
    });
    server.Post(route("/capture"), [this](const httplib::Request& request, httplib::Response& response) {
        std::vector<std::string> assignments;
        std::string error;
        if (!parseCaptureBody(request.body, assignments, error)) {
            send(response, errorReply(400, error));
            return;
        }
        withCamera(request, response, [&](CameraView& view) { return view.setCapture(assignments); });
    });
    server.Post(route("/command/([a-z]{1,16})"), [this](const httplib::Request& request, httplib::Response& response) {
        const std::string name = request.matches[2];
        withCamera(request, response, [&](CameraView& view) { return view.command(name); });
    });
    server.Post(route("/live"), [this](const httplib::Request& request, httplib::Response& response) {
        bool on = false;
        std::string error;
        if (!parseSwitchBody(request.body, on, error)) {
            send(response, errorReply(400, error));
            return;
        }
        withCamera(request, response, [&](CameraView& view) { return view.setLive(on); });
    });
    server.Get(route("/download"), [this](const httplib::Request& request, httplib::Response& response) {
        withCamera(request, response, [](CameraView& view) { return view.downloadStatus(); });
    });
    server.Post(route("/download"), [this](const httplib::Request& request, httplib::Response& response) {
        uint32_t from = 0;
        uint32_t to = 0;
        std::string error;
        if (!parseRangeBody(request.body, from, to, error)) {
            send(response, errorReply(400, error));
            return;
        }
        withCamera(request, response, [&](CameraView& view) { return view.download(from, to); });
    });
}

void HttpApi::imageRoutes(httplib::Server& server)
{
    server.Get(route("/live.raw"), [this](const httplib::Request& request, httplib::Response& response) {
        uint64_t after = 0;
        if (request.has_param("after") && !parseNumber(request.get_param_value("after"), UINT64_MAX >> 1, after)) {
            send(response, errorReply(400, "'after' must be a sequence number"));
            return;
        }
        withCamera(request, response, [&](CameraView& view) { return view.liveImage(after); });
    });
    server.Get(route("/frame.raw"), [this](const httplib::Request& request, httplib::Response& response) {
        uint64_t frame = 0;
        if (!parseNumber(request.get_param_value("n"), UINT32_MAX, frame)) {
            send(response, errorReply(400, "'n' must be a frame number"));
            return;
        }
        withCamera(request, response,
                   [&](CameraView& view) { return view.recordedImage(static_cast<uint32_t>(frame)); });
    });
}

// Files the browser saves: snapshots and ZIP downloads.
void HttpApi::fileRoutes(httplib::Server& server)
{
    // ?sequence=S for the live image the page shows, ?n=N for a recorded frame.
    server.Get(route("/snapshot.tif"), [this](const httplib::Request& request, httplib::Response& response) {
        uint64_t number = 0;
        const bool live = request.has_param("sequence");
        if (!parseNumber(request.get_param_value(live ? "sequence" : "n"), live ? UINT64_MAX >> 1 : UINT32_MAX,
                         number)) {
            send(response, errorReply(400, "give 'sequence' (a live image) or 'n' (a recorded frame)"));
            return;
        }
        withCamera(request, response, [&](CameraView& view) {
            return live ? view.liveSnapshot(number) : view.recordedSnapshot(static_cast<uint32_t>(number));
        });
    });
    server.Get(route("/frames.zip"),
               [this](const httplib::Request& request, httplib::Response& response) { zip(request, response); });
}

// The frames as a ZIP file sent while they download: the browser shows its own progress, the
// page the event feed's.
void HttpApi::zip(const httplib::Request& request, httplib::Response& response)
{
    uint64_t from = 0;
    uint64_t to = 0;
    if (!parseNumber(request.get_param_value("from"), UINT32_MAX, from) ||
        !parseNumber(request.get_param_value("to"), UINT32_MAX, to) || from > to) {
        send(response, errorReply(400, "'from' and 'to' must be frame numbers, 'from' not after 'to'"));
        return;
    }
    std::shared_ptr<CameraView> view = hub_.view(request.matches[1]);
    if (!view) {
        send(response, errorReply(404, "no camera is known at " + std::string(request.matches[1])));
        return;
    }
    Reply refusal{409, ""};
    std::shared_ptr<halvex::hxview::ZipDownload> zip =
        view->zipDownload(static_cast<uint32_t>(from), static_cast<uint32_t>(to), refusal);
    if (!zip) {
        send(response, refusal);
        return;
    }
    const std::string name =
        "frames-" + std::string(request.matches[1]) + "-" + std::to_string(from) + "-" + std::to_string(to) + ".zip";
    streamZip(response, zip, name, feed_);
}

// Server-sent events: each feed event as one "data:" line with its number as the id, so a page
// that reconnects continues where it was.
void HttpApi::events(const httplib::Request& request, httplib::Response& response)
{
    uint64_t start = 0;
    if (request.has_header("Last-Event-ID"))
        parseNumber(request.get_header_value("Last-Event-ID"), UINT64_MAX >> 1, start);
    if (eventStreams_->fetch_add(1) >= kMaxEventStreams) {
        eventStreams_->fetch_sub(1);
        send(response, errorReply(503, "too many pages follow the events; close one"));
        return;
    }
    auto position = std::make_shared<uint64_t>(start);
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, position](size_t, httplib::DataSink& sink) {
            if (feed_.closed())
                return false;
            std::string text;
            for (const EventFeed::Event& event :
                 feed_.after(*position, std::chrono::steady_clock::now() + kQuietEvents)) {
                text += "id: " + std::to_string(event.number) + "\ndata: " + event.json + "\n\n";
                *position = event.number;
            }
            if (text.empty())
                text = ": quiet\n\n";
            return !feed_.closed() && sink.write(text.data(), text.size());
        },
        [streams = eventStreams_](bool) { streams->fetch_sub(1); });
}

} // namespace hxview
