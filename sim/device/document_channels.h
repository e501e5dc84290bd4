// Text documents that second-family cameras exchange through memory at fixed addresses.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace hxsim {

// Readable channels (telemetry, media information) hand out their document in successive memory
// reads; writing 0 to the channel's register rewinds it. The lens information and status
// channels hand out their whole text at every read. Writable
// channels (lens settings, save request, save comment) keep the last text a host wrote. The
// documents' content belongs to whoever sets them; a fresh camera holds "{}".
class DocumentChannels {
public:
    // `enabled` is false for cameras of the first family, which have no such channels.
    explicit DocumentChannels(bool enabled);

    bool readable(uint32_t address) const { return readable_.count(address) != 0; }
    bool writable(uint32_t address) const { return received_.count(address) != 0; }

    // The next `count` bytes of the document, zero-filled past its end.
    std::vector<uint8_t> read(uint32_t address, std::size_t count);
    void rewind(uint32_t address);
    void receive(uint32_t address, std::span<const uint8_t> data);

    void setDocument(uint32_t address, std::string text);
    std::string received(uint32_t address) const;

private:
    struct Readable {
        std::string text;
        std::size_t cursor = 0;
    };
    std::map<uint32_t, Readable> readable_;
    std::map<uint32_t, std::string> received_;
};

} // namespace hxsim
