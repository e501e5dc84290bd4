// The client registry: every registered API client with its callback and cookie.
#include "api/client_context.h"

#include <exception>
#include <memory>
#include <stdexcept>

#include "callback/callback.h"
#include "callback/callback_messages.h"
#include "hlv_thread/log.h"

namespace halvex::api::client_context {

namespace {

using thread::TRACE_API;

struct Singleton {
    std::mutex lock;
    ClientContext* instance = nullptr;
};

// Allocated once and never destroyed, like the registry itself.
Singleton& singleton()
{
    static Singleton* const instance = new Singleton;
    return *instance;
}

// The registry never waits for the Callback thread: it posts and goes on. Nothing is posted once
// the Callback thread has closed.
void tellCallbackThread(HX_CLIENT_HANDLE client, HX_CALLBACK callback, void* cookie)
{
    callback::Callback::postOwned(std::make_unique<callback::CallbackRegister>(client, callback, cookie));
}

void* asPointer(HX_CLIENT_HANDLE handle)
{
    return reinterpret_cast<void*>(handle);
}

} // namespace

ClientInfo::ClientInfo(HX_CALLBACK callbackFunction, void* cookieValue)
    : callback(callbackFunction), cookie(cookieValue)
{
}

ClientInfo::~ClientInfo() = default;

ClientContext& ClientContext::instance()
{
    Singleton& s = singleton();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.instance == nullptr)
        s.instance = new ClientContext;
    return *s.instance;
}

bool ClientContext::created()
{
    Singleton& s = singleton();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.instance != nullptr;
}

ClientContext::ClientContext()
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::ClientContext");
}

ClientContext::~ClientContext()
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::~ClientContext");
}

HX_CLIENT_HANDLE ClientContext::addClient(HX_CALLBACK callback, void* cookie)
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::addClient");
    try {
        return insert(callback, cookie);
    } catch (const std::exception& e) {
        HLV_LOG("Could not register new client. std::exception: %s", e.what());
    }
    return 0;
}

// The Callback thread hears of the client under the registry mutex, so that an erase of the
// same handle can never overtake the registration.
HX_CLIENT_HANDLE ClientContext::insert(HX_CALLBACK callback, void* cookie)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) {
        HLV_LOG("%s: called after closed.", "ClientContext::addClient");
        return 0;
    }
    if (clients_.size() >= clients_.max_size())
        throw std::length_error("client registry is full");
    const HX_CLIENT_HANDLE handle = nextHandle_;
    auto entry = clients_.try_emplace(handle, std::make_unique<ClientInfo>(callback, cookie)).first;
    ++nextHandle_;
    try {
        if (callback != nullptr)
            tellCallbackThread(handle, callback, cookie);
    } catch (...) {
        clients_.erase(entry);
        throw;
    }
    return handle;
}

bool ClientContext::clientExists(HX_CLIENT_HANDLE client)
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::clientExists");
    std::lock_guard<std::mutex> guard(lock_);
    return clients_.count(client) != 0;
}

bool ClientContext::clientHasCallback(HX_CLIENT_HANDLE client)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = clients_.find(client);
    return found != clients_.end() && found->second->callback != nullptr;
}

void ClientContext::clientErase(HX_CLIENT_HANDLE client)
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::clientErase");
    std::lock_guard<std::mutex> guard(lock_);
    tellCallbackThread(client, nullptr, nullptr);
    if (clients_.erase(client) == 0)
        HLV_TRACE(TRACE_API, "%s: no client %p", "ClientContext::clientErase", asPointer(client));
}

void ClientContext::close()
{
    HLV_TRACE(TRACE_API, "%s", "ClientContext::close");
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    clients_.clear();
}

} // namespace halvex::api::client_context
