// hxview camera hub.
#include "camera_hub.h"

#include <algorithm>
#include <chrono>

#include "json_text.h"
#include "session.h"

namespace hxview {
namespace {

// A camera given by address that has not answered by then is given up, with a line in the feed.
constexpr auto kLookupTime = std::chrono::seconds(60);
constexpr auto kLookupPause = std::chrono::milliseconds(250);

Json::Value identity(HX_CAMERA_HANDLE camera, const HX_CAMERA_INFORMATION& information, bool lost)
{
    Json::Value json;
    json["address"] = halvex::common::cameraAddress(camera);
    json["model"] = information.model_name;
    json["serial"] = information.serial_number;
    json["manufacturer"] = information.manufacturer_name;
    json["firmware"] = information.device_version;
    json["name"] = information.user_name;
    json["adapter"] = information.adapter_name;
    json["lost"] = lost;
    return json;
}

} // namespace

CameraHub::CameraHub(EventFeed& feed, std::string downloads) : feed_(feed), downloads_(std::move(downloads)) {}

CameraHub::~CameraHub()
{
    stop();
}

bool CameraHub::start(bool trace)
{
    if (trace)
        HX_trace(1);
    if (HX_register(&client_, &CameraHub::onEvent, this) != HX_STATUS_OK)
        client_ = 0;
    return client_ != 0;
}

bool CameraHub::add(const std::string& address)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (client_ == 0 || stopping_)
        return false;
    lookups_.emplace_back([this, address] {
        const auto deadline = std::chrono::steady_clock::now() + kLookupTime;
        HX_CAMERA_HANDLE camera = 0;
        while (!stopping_ && HX_get_handle_by_name(client_, &camera, address.c_str()) != HX_STATUS_OK) {
            if (std::chrono::steady_clock::now() >= deadline) {
                feed_.post(writeJson(message("error", "no camera answered at " + address)));
                return;
            }
            std::this_thread::sleep_for(kLookupPause);
        }
        HX_CAMERA_INFORMATION information;
        HX_camera_information_init(&information, sizeof(information));
        if (!stopping_ && HX_get_camera_information_syn(client_, camera, &information) == HX_STATUS_OK)
            found(camera, information);
    });
    return true;
}

void CameraHub::stop()
{
    if (stopping_.exchange(true))
        return;
    std::vector<std::thread> lookups;
    {
        std::lock_guard<std::mutex> guard(lock_);
        lookups.swap(lookups_);
    }
    for (std::thread& lookup : lookups)
        lookup.join();
    std::map<HX_CAMERA_HANDLE, std::shared_ptr<CameraView>> views;
    {
        std::lock_guard<std::mutex> guard(lock_);
        views = views_;
    }
    for (auto& [camera, view] : views)
        view->stop();
    if (client_ != 0) {
        HX_unregister(client_);
        HX_shutdown();
    }
}

void CameraHub::onEvent(uint32_t event, HX_CLIENT_HANDLE /*client*/, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    if (cookie != nullptr)
        static_cast<CameraHub*>(cookie)->event(event, camera, data);
}

void CameraHub::event(uint32_t event, HX_CAMERA_HANDLE camera, void* data)
{
    if (event == HX_DISCOVERY && data != nullptr) {
        found(camera, *static_cast<const HX_CAMERA_INFORMATION*>(data));
        return;
    }
    if (event == HX_END) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            auto known = cameras_.find(camera);
            if (known != cameras_.end())
                known->second.lost = true;
        }
        Json::Value json = message("lost", "the camera at " + halvex::common::cameraAddress(camera) + " is gone");
        json["camera"] = halvex::common::cameraAddress(camera);
        feed_.post(writeJson(json));
        return;
    }
    if (std::shared_ptr<CameraView> view = existingView(camera))
        view->event(event, data);
}

void CameraHub::found(HX_CAMERA_HANDLE camera, const HX_CAMERA_INFORMATION& information)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        cameras_[camera] = Known{information, false};
    }
    Json::Value json = identity(camera, information, false);
    json["type"] = "camera";
    feed_.post(writeJson(json));
}

std::string CameraHub::camerasJson() const
{
    Json::Value list(Json::arrayValue);
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [camera, known] : cameras_)
        list.append(identity(camera, known.information, known.lost));
    Json::Value json;
    json["cameras"] = list;
    return writeJson(json);
}

std::shared_ptr<CameraView> CameraHub::view(const std::string& address)
{
    std::shared_ptr<CameraView> made;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto known = std::find_if(cameras_.begin(), cameras_.end(), [&address](const auto& entry) {
            return halvex::common::cameraAddress(entry.first) == address;
        });
        if (known == cameras_.end())
            return nullptr;
        auto& view = views_[known->first];
        if (view)
            return view;
        view = std::make_shared<CameraView>(client_, known->first, feed_, downloads_);
        made = view;
    }
    // Outside the lock: it asks the camera, and requests for other cameras need not wait for that.
    made->shortenRecording();
    return made;
}

std::shared_ptr<CameraView> CameraHub::existingView(HX_CAMERA_HANDLE camera) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = views_.find(camera);
    return found != views_.end() ? found->second : nullptr;
}

} // namespace hxview
