// hxview ZIP writer: an archive of stored (uncompressed) files written front to back, so that it
// can go to the browser while the frames in it are still arriving.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace halvex::hxview {

// TIFF frames hardly compress, and a stored archive needs no seeking back: each file is a header
// that already holds its size and checksum, then its bytes; the directory follows the last. Plain
// ZIP only (no ZIP64): at most 65535 files and 4 GiB in all; larger downloads go to the server's
// folder. Not thread-safe.
class ZipWriter {
public:
    explicit ZipWriter(std::chrono::system_clock::time_point made);
    static constexpr uint64_t kMaxBytes = 0xFFFFFFFFull;
    static constexpr std::size_t kMaxFiles = 0xFFFF;

    // The bytes to send for one file; false with a reason when the archive would exceed the limits.
    bool add(const std::string& name, const std::vector<uint8_t>& data, std::string& out, std::string& error);
    // The directory and the end record, after the last file.
    std::string finish();

private:
    struct Entry {
        std::string name;
        uint32_t crc = 0;
        uint32_t size = 0;
        uint32_t offset = 0;
    };
    void header(std::string& out, const Entry& entry, bool central) const;

    uint16_t time_ = 0;
    uint16_t date_ = 0;
    uint64_t written_ = 0;
    std::vector<Entry> entries_;
};

} // namespace halvex::hxview
