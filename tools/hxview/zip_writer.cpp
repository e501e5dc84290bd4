// hxview ZIP writer. The layout is the ZIP application note's: local headers, the central
// directory, the end-of-directory record, all little-endian.
#include "zip_writer.h"

#include <zlib.h>

#include <algorithm>

namespace halvex::hxview {
namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
// Version 2.0: the oldest that readers need for stored files with directories.
constexpr uint16_t kVersion = 20;
constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::size_t kEndBytes = 22;

void put16(std::string& out, uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

void put32(std::string& out, uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

ZipWriter::ZipWriter(std::chrono::system_clock::time_point made)
{
    // File times in ZIP are MS-DOS local times from 1980; UTC is what the server can state.
    const auto day = std::chrono::floor<std::chrono::days>(made);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{std::chrono::floor<std::chrono::seconds>(made - day)};
    const int year = std::max(0, static_cast<int>(date.year()) - 1980);
    date_ =
        static_cast<uint16_t>(year << 9 | static_cast<unsigned>(date.month()) << 5 | static_cast<unsigned>(date.day()));
    time_ =
        static_cast<uint16_t>(clock.hours().count() << 11 | clock.minutes().count() << 5 | clock.seconds().count() / 2);
}

void ZipWriter::header(std::string& out, const Entry& entry, bool central) const
{
    put32(out, central ? kCentralSignature : kLocalSignature);
    if (central)
        put16(out, kVersion); // made by
    put16(out, kVersion);     // needed to extract
    put16(out, 0);            // no flags: sizes and checksum are in this header
    put16(out, 0);            // stored
    put16(out, time_);
    put16(out, date_);
    put32(out, entry.crc);
    put32(out, entry.size); // compressed
    put32(out, entry.size);
    put16(out, static_cast<uint32_t>(entry.name.size()));
    put16(out, 0); // extra field
    if (central) {
        put16(out, 0); // comment
        put16(out, 0); // disk
        put16(out, 0); // internal attributes
        put32(out, 0); // external attributes
        put32(out, entry.offset);
    }
    out += entry.name;
}

bool ZipWriter::add(const std::string& name, const std::vector<uint8_t>& data, std::string& out, std::string& error)
{
    const uint64_t after = written_ + kLocalHeaderBytes + name.size() + data.size();
    const uint64_t directory = (entries_.size() + 1) * (46 + name.size()) + kEndBytes;
    if (entries_.size() >= kMaxFiles || name.size() > 0xFFFF || after + directory > kMaxBytes) {
        error = "the ZIP file would pass 4 GiB or 65535 files: download to the server's folder instead";
        return false;
    }
    Entry entry{name, 0, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(written_)};
    entry.crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    out.clear();
    out.reserve(kLocalHeaderBytes + name.size() + data.size());
    header(out, entry, false);
    out.append(reinterpret_cast<const char*>(data.data()), data.size());
    written_ += out.size();
    entries_.push_back(std::move(entry));
    return true;
}

std::string ZipWriter::finish()
{
    std::string out;
    for (const Entry& entry : entries_)
        header(out, entry, true);
    const auto count = static_cast<uint32_t>(entries_.size());
    const auto directoryBytes = static_cast<uint32_t>(out.size());
    put32(out, kEndSignature);
    put16(out, 0); // this disk
    put16(out, 0); // the directory's disk
    put16(out, count);
    put16(out, count);
    put32(out, directoryBytes);
    put32(out, static_cast<uint32_t>(written_));
    put16(out, 0); // comment
    return out;
}

} // namespace halvex::hxview
