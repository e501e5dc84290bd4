// A stand-in camera for the control channel's tests: it answers on loopback as its script says.
#include "scripted_camera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace hx_comm_test {

uint32_t SentCommand::word(std::size_t offset) const
{
    if (offset + 4 > bytes.size())
        return 0;
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 | uint32_t(bytes[offset + 2]) << 8 |
           bytes[offset + 3];
}

Bytes ack(uint16_t status, uint16_t answer, uint16_t id, const Bytes& payload)
{
    Bytes out;
    put16(out, status);
    put16(out, answer);
    put16(out, uint16_t(payload.size()));
    put16(out, id);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

ScriptedCamera::ScriptedCamera(const char* address, uint16_t port) : address_(ipv4(address))
{
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address_;
    local.sin_port = htons(port);
    if (fd_ < 0 || stopFd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
        throw std::runtime_error(std::string("scripted camera cannot listen on ") + address);
    answerNormally();
    thread_ = std::thread([this] { serve(); });
}

ScriptedCamera::~ScriptedCamera()
{
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof(one)) == sizeof(one))
        thread_.join();
    else
        thread_.detach();
    close(fd_);
    close(stopFd_);
}

// Waits for a script that is running to finish, so whatever the old script refers to may go.
void ScriptedCamera::setScript(Script script)
{
    std::lock_guard<std::mutex> guard(scriptLock_);
    script_ = std::move(script);
}

void ScriptedCamera::answerNormally()
{
    setScript([this](const SentCommand& command) { return answer(command); });
}

void ScriptedCamera::withState(const std::function<void(CameraState&)>& change)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    change(state_);
}

void ScriptedCamera::serve()
{
    pollfd watched[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    while (poll(watched, 2, -1) >= 0 && watched[1].revents == 0) {
        SentCommand command;
        command.bytes.resize(2048);
        sockaddr_in source{};
        socklen_t size = sizeof(source);
        const ssize_t length =
            recvfrom(fd_, command.bytes.data(), command.bytes.size(), 0, reinterpret_cast<sockaddr*>(&source), &size);
        if (length < 0)
            continue;
        command.bytes.resize(std::size_t(length));
        command.flags = length > 1 ? command.bytes[1] : 0;
        command.code = uint16_t(command.word(0) & 0xFFFF);
        command.length = uint16_t(command.word(4) >> 16);
        command.id = uint16_t(command.word(4) & 0xFFFF);
        arrived_.update([&] {
            command.repeat = !commands_.empty() && commands_.back().bytes == command.bytes;
            firstSendings_ += command.repeat ? 0 : 1;
            commands_.push_back(command);
            hostPort_ = ntohs(source.sin_port);
        });
        std::lock_guard<std::mutex> running(scriptLock_);
        for (const Bytes& reply : script_(command))
            sendTo(reply, ntohs(source.sin_port), source.sin_addr.s_addr);
    }
}

void ScriptedCamera::sendTo(const Bytes& datagram, uint16_t port, uint32_t address)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address != 0 ? address : ipv4("127.0.0.1");
    target.sin_port = htons(port);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof(target));
}

std::vector<SentCommand> ScriptedCamera::commands() const
{
    return arrived_.read([this] { return commands_; });
}

std::vector<SentCommand> ScriptedCamera::firstSendings() const
{
    std::vector<SentCommand> first;
    for (const SentCommand& command : commands()) {
        if (!command.repeat)
            first.push_back(command);
    }
    return first;
}

bool ScriptedCamera::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const
{
    return arrived_.waitUntil([&] { return firstSendings_ >= count; }, timeout);
}

uint16_t ScriptedCamera::hostPort() const
{
    return arrived_.read([this] { return hostPort_; });
}

// Commands without the acknowledge flag are applied and not answered.
std::vector<Bytes> ScriptedCamera::answer(const SentCommand& command)
{
    Bytes reply;
    switch (command.code) {
    case 0x0080: reply = answerRead(command); break;
    case 0x0082: reply = answerWrite(command); break;
    case 0x0084: reply = answerReadMem(command); break;
    case 0x0086: reply = answerWriteMem(command); break;
    default: return {};
    }
    if ((command.flags & 0x01) == 0)
        return {};
    return {reply};
}

Bytes ScriptedCamera::answerRead(const SentCommand& command)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    Bytes values;
    for (std::size_t offset = 8; offset + 4 <= command.bytes.size(); offset += 4)
        put32(values, state_.registers[command.word(offset)]);
    return ack(0, 0x0081, command.id, values);
}

Bytes ScriptedCamera::answerWrite(const SentCommand& command)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    uint16_t written = 0;
    for (std::size_t offset = 8; offset + 8 <= command.bytes.size(); offset += 8, ++written)
        state_.registers[command.word(offset)] = command.word(offset + 4);
    Bytes index;
    put16(index, 0);
    put16(index, written);
    return ack(0, 0x0083, command.id, index);
}

Bytes ScriptedCamera::answerReadMem(const SentCommand& command)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    const uint32_t start = command.word(8);
    const uint16_t count = uint16_t(command.word(12) & 0xFFFF);
    Bytes payload;
    put32(payload, start);
    for (uint32_t i = 0; i < count; ++i)
        payload.push_back(state_.memory[start + i]);
    return ack(0, 0x0085, command.id, payload);
}

Bytes ScriptedCamera::answerWriteMem(const SentCommand& command)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    const uint32_t start = command.word(8);
    for (std::size_t i = 12; i < command.bytes.size(); ++i)
        state_.memory[start + uint32_t(i - 12)] = command.bytes[i];
    Bytes index;
    put16(index, 0);
    put16(index, uint16_t(command.bytes.size() - 12));
    return ack(0, 0x0087, command.id, index);
}

} // namespace hx_comm_test
