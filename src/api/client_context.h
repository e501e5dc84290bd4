// The client registry: every registered API client with its callback and cookie.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include <hx/hx.h>

namespace halvex::api::client_context {

// One registered client.
class ClientInfo {
public:
    ClientInfo(HX_CALLBACK callbackFunction, void* cookieValue);
    virtual ~ClientInfo();

    HX_CALLBACK callback;
    void* cookie;
};

// The process's one registry of clients. Handles come from a counter that starts at 1 and only
// grows, so a handle is never 0 and never reused within the process. Every client with a
// callback is announced to the Callback thread, and its departure too. The registry takes its
// mutex in every operation; it never waits for the Callback thread.
//
// Threads: any. The singleton is created on first use and never destroyed; close() empties it
// for good (library shutdown), after which no client can be added.
class ClientContext {
public:
    static ClientContext& instance();
    // True once instance() has created the registry.
    static bool created();

    // The new client's handle, or 0 when it could not be added.
    HX_CLIENT_HANDLE addClient(HX_CALLBACK callback, void* cookie);
    bool clientExists(HX_CLIENT_HANDLE client);
    // True when the client is registered with a callback.
    bool clientHasCallback(HX_CLIENT_HANDLE client);
    // Forgets the client (unknown handles are ignored) and tells the Callback thread.
    void clientErase(HX_CLIENT_HANDLE client);
    // Drops every client and refuses new ones.
    void close();

private:
    ClientContext();
    ~ClientContext();

    HX_CLIENT_HANDLE insert(HX_CALLBACK callback, void* cookie);

    std::mutex lock_;
    std::map<HX_CLIENT_HANDLE, std::unique_ptr<ClientInfo>> clients_;
    HX_CLIENT_HANDLE nextHandle_ = 1;
    bool closed_ = false;
};

} // namespace halvex::api::client_context
