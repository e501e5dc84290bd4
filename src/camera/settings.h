// The settings transport: a record carried to a camera's service thread, applied there and brought back.
#pragma once

#include <memory>
#include <string>

#include <hx/hx.h>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::camera {

class CameraServices;

// A request that a camera's service thread applies on behalf of an API call. It keeps only a
// weak reference to the service, so a pending request never keeps a closing service alive; when
// the service has gone, set and get do nothing. process() runs on the service thread.
class SettingsBase {
public:
    explicit SettingsBase(const std::shared_ptr<CameraServices>& service);
    virtual ~SettingsBase();
    SettingsBase(const SettingsBase&) = delete;
    SettingsBase& operator=(const SettingsBase&) = delete;

    // Writes the carried values when the request asks for it (set), otherwise reads them (get).
    virtual bool process();
    virtual bool isSet() const = 0;
    virtual bool set() = 0;
    virtual bool get() = 0;

    const std::string& cameraName() const;

protected:
    // The service, or empty when it has gone.
    std::shared_ptr<CameraServices> lockService() const;

private:
    std::string cameraName_;
    std::weak_ptr<CameraServices> service_;
};

// Refuses a record of another interface version: logs the mismatch and throws RuntimeError, so
// that the request is never sent.
inline void requireSettingsVersion(unsigned verMaj, unsigned verMin)
{
    if (verMaj == HX_API_VERSION_MAJ && verMin == HX_API_VERSION_MIN)
        return;
    HLV_LOG("Settings constructor.  pT->ver_maj[%d] != HX_API_VERSION_MAJ[%d] and pT->ver_min[%d] != "
            "HX_API_VERSION_MIN[%d].  RUNTIME ERROR WILL TERMINATE.",
            static_cast<int>(verMaj), HX_API_VERSION_MAJ, static_cast<int>(verMin), HX_API_VERSION_MIN);
    HLV_THROW(thread::RuntimeError, "Wrong API version");
}

// A settings request carrying its own copy of a public record.
template <class Record>
class Settings : public SettingsBase {
public:
    Settings(const std::shared_ptr<CameraServices>& service, const Record& record)
        : SettingsBase(service), record_(record)
    {
        requireSettingsVersion(record.ver_maj, record.ver_min);
    }

    // A request is a write when its record flags carry "Set".
    bool isSet() const override { return (record_.flags & HX_FLAG_SET) != 0; }

    Record& record() { return record_; }
    const Record& record() const { return record_; }

private:
    Record record_;
};

} // namespace halvex::camera
