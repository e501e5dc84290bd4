// What a camera's control channel carries: register and memory requests, event datagrams, ticks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "hlv_thread/message.h"
#include "control/message_ids.h"
#include "wire/control_packet.h"

namespace HX_COMM {

// (register address, value) pairs in the order they are read, written or reported.
using RegisterList = std::vector<std::pair<uint32_t, uint32_t>>;

// Identifiers private to the control channel's thread.
enum : uint32_t {
    HMP_MSG = HX_MESSAGE_IDS::INTERNAL_START + 1,
    AGE_OUT_TICK = HX_MESSAGE_IDS::INTERNAL_START + 2,
    PURGE_MSG = HX_MESSAGE_IDS::INTERNAL_START + 3,
    READ_REG_MSG = HX_MESSAGE_IDS::INTERNAL_START + 4,
    WRITE_REG_MSG = HX_MESSAGE_IDS::INTERNAL_START + 5,
    READ_MEM_MSG = HX_MESSAGE_IDS::INTERNAL_START + 6,
    WRITE_MEM_MSG = HX_MESSAGE_IDS::INTERNAL_START + 7,
    READ_MULTI_REG_MSG = HX_MESSAGE_IDS::INTERNAL_START + 8,
    WRITE_MULTI_REG_MSG = HX_MESSAGE_IDS::INTERNAL_START + 9,
};

// A register or memory request. The caller builds it on its stack and waits for it; while it is
// pending, the channel's exchange lock guards it. It ends done or failed, with the camera's
// status of the exchange.
class RequestMessage {
public:
    RequestMessage(uint32_t id, uint32_t camera)
        : req(id), cameraAddress(camera)
    {
    }
    virtual ~RequestMessage() = default;
    RequestMessage(const RequestMessage&) = delete;
    RequestMessage& operator=(const RequestMessage&) = delete;

    uint32_t req;
    uint32_t status = HLV_THREAD::MESSAGE_PENDING;
    uint32_t cameraAddress;
    // Stays "generic error" unless the camera answers, so a local failure reads as one.
    uint16_t cameraStatus = HX_WIRE::CameraStatus::kGenericError;
    // Set when the channel halted or was faulted while the request waited.
    bool channelDown = false;
    // Set once, when the request has its result; its caller may then return.
    bool completed = false;
};

class ReadRegMessage : public RequestMessage {
public:
    ReadRegMessage(uint32_t camera, uint32_t reg)
        : RequestMessage(READ_REG_MSG, camera), regAddress(reg)
    {
    }
    uint32_t regAddress;
    uint32_t value = 0;
};

class WriteRegMessage : public RequestMessage {
public:
    WriteRegMessage(uint32_t camera, uint32_t reg, uint32_t newValue)
        : RequestMessage(WRITE_REG_MSG, camera), regAddress(reg), value(newValue)
    {
    }
    uint32_t regAddress;
    uint32_t value;
};

class ReadMultiRegMessage : public RequestMessage {
public:
    ReadMultiRegMessage(uint32_t camera, RegisterList list)
        : RequestMessage(READ_MULTI_REG_MSG, camera), pairs(std::move(list))
    {
    }
    RegisterList pairs;
};

class WriteMultiRegMessage : public RequestMessage {
public:
    WriteMultiRegMessage(uint32_t camera, RegisterList list)
        : RequestMessage(WRITE_MULTI_REG_MSG, camera), pairs(std::move(list))
    {
    }
    RegisterList pairs;
};

class ReadMemMessage : public RequestMessage {
public:
    ReadMemMessage(uint32_t camera, uint32_t start, std::size_t count)
        : RequestMessage(READ_MEM_MSG, camera), startAddress(start), byteCount(count)
    {
    }
    uint32_t startAddress;
    // 0 asks for the most one datagram carries.
    std::size_t byteCount;
    std::vector<uint8_t> data;
};

class WriteMemMessage : public RequestMessage {
public:
    WriteMemMessage(uint32_t camera, uint32_t start, std::vector<uint8_t> bytes)
        : RequestMessage(WRITE_MEM_MSG, camera), startAddress(start), data(std::move(bytes))
    {
    }
    uint32_t startAddress;
    std::vector<uint8_t> data;
};

// One datagram read from the event socket, with where it came from.
class HMPMessage : public HLV_THREAD::Message {
public:
    HMPMessage() { req = HMP_MSG; }
    std::array<uint8_t, HX_WIRE::kMaxControlDatagram> buffer{};
    std::size_t length = 0;
    uint32_t sourceAddress = 0;  // network order
    uint16_t sourcePort = 0;
};

// Posted by the age timer every period; ages the pending requests by one.
class AgeOutTick : public HLV_THREAD::Message {
public:
    AgeOutTick() { req = AGE_OUT_TICK; }
};

// Posted when the camera is declared lost: fails every pending request at once.
class PurgeMessage : public HLV_THREAD::Message {
public:
    PurgeMessage() { req = PURGE_MSG; }
};

} // namespace HX_COMM
