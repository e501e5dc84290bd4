// A stand-in camera for the control channel's tests: it answers on loopback as its script says.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "arrivals.h"
#include "wire_bytes.h"

namespace hx_comm_test {

using Bytes = std::vector<uint8_t>;

// A command as it arrived, its header read by hand from the protocol table.
struct SentCommand {
    Bytes bytes;
    uint8_t flags = 0;
    uint16_t code = 0;
    uint16_t length = 0;
    uint16_t id = 0;
    // The same bytes as the command before it: the channel asked again for a late answer.
    bool repeat = false;
    uint32_t word(std::size_t offset) const; // big-endian 32-bit field
};

using hx_test::ipv4;
using hx_test::put16;
using hx_test::put32;
// A hand-built acknowledge: status, answer, payload length, id, payload.
Bytes ack(uint16_t status, uint16_t answer, uint16_t id, const Bytes& payload = {});

// Registers and memory the default script serves.
struct CameraState {
    std::map<uint32_t, uint32_t> registers;
    std::map<uint32_t, uint8_t> memory;
};

class ScriptedCamera {
public:
    // Datagrams to send back to the command's source right away (none: stay silent).
    using Script = std::function<std::vector<Bytes>(const SentCommand&)>;

    // Listens on address:port (a loopback address) and answers with the default script.
    explicit ScriptedCamera(const char* address, uint16_t port = 3956);
    ~ScriptedCamera();

    // Replaces the script once a running one has finished; call it before anything the old
    // script refers to goes.
    void setScript(Script script);
    void answerNormally();
    // Answers as a well-behaved camera from `state`, which it guards with its own lock.
    std::vector<Bytes> answer(const SentCommand& command);
    void withState(const std::function<void(CameraState&)>& change);

    // Sends a datagram from the camera's socket, e.g. a held-back answer or an event.
    void sendTo(const Bytes& datagram, uint16_t port, uint32_t address = 0);
    // Every command as sent, repeats included.
    std::vector<SentCommand> commands() const;
    // The commands without their repeats: what a test means by "the host sent", whatever the
    // machine's speed made the channel repeat.
    std::vector<SentCommand> firstSendings() const;
    // Waits until `count` first sendings have arrived.
    bool waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;
    uint32_t address() const { return address_; }
    // The host port the last command came from.
    uint16_t hostPort() const;

private:
    void serve();
    Bytes answerRead(const SentCommand& command);
    Bytes answerWrite(const SentCommand& command);
    Bytes answerReadMem(const SentCommand& command);
    Bytes answerWriteMem(const SentCommand& command);

    uint32_t address_;
    int fd_ = -1;
    int stopFd_ = -1;
    // Guards the three below and signals each command's arrival.
    hx_test::Signal arrived_;
    std::vector<SentCommand> commands_;
    std::size_t firstSendings_ = 0;
    uint16_t hostPort_ = 0;
    std::mutex scriptLock_;
    Script script_;
    std::mutex stateLock_;
    CameraState state_;
    std::thread thread_;
};

} // namespace hx_comm_test
