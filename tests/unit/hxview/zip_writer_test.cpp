// The viewer's ZIP files, read back by a reader written from the file format: every file is found
// through the directory at its header, with its name, size, checksum and bytes; and an archive
// that would outgrow plain ZIP is refused rather than written wrong.
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "zip_writer.h"

namespace {

using halvex::hxview::ZipWriter;

uint32_t read16(const std::string& bytes, std::size_t at)
{
    return static_cast<uint8_t>(bytes.at(at)) | static_cast<uint32_t>(static_cast<uint8_t>(bytes.at(at + 1))) << 8;
}

uint32_t read32(const std::string& bytes, std::size_t at)
{
    return read16(bytes, at) | read16(bytes, at + 2) << 16;
}

struct Found {
    std::string name;
    std::string data;
    uint32_t crc = 0;
};

// The files the central directory lists, each read at the offset it gives.
std::vector<Found> readZip(const std::string& zip)
{
    std::vector<Found> files;
    const std::size_t end = zip.size() - 22;
    EXPECT_EQ(read32(zip, end), 0x06054b50u) << "no end record where a comment-less archive has it";
    const uint32_t count = read16(zip, end + 10);
    std::size_t entry = read32(zip, end + 16);
    EXPECT_EQ(entry + read32(zip, end + 12), end) << "the directory does not end where the end record starts";
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(read32(zip, entry), 0x02014b50u);
        EXPECT_EQ(read16(zip, entry + 10), 0u) << "not stored";
        const uint32_t size = read32(zip, entry + 24);
        EXPECT_EQ(read32(zip, entry + 20), size);
        const uint32_t nameLength = read16(zip, entry + 28);
        const std::size_t local = read32(zip, entry + 42);
        Found file{zip.substr(entry + 46, nameLength), "", read32(zip, entry + 16)};
        EXPECT_EQ(read32(zip, local), 0x04034b50u);
        EXPECT_EQ(read32(zip, local + 14), file.crc) << "the header and the directory disagree";
        EXPECT_EQ(zip.substr(local + 30, nameLength), file.name);
        file.data = zip.substr(local + 30 + nameLength + read16(zip, local + 28), size);
        files.push_back(file);
        entry += 46 + nameLength + read16(zip, entry + 30) + read16(zip, entry + 32);
    }
    return files;
}

TEST(ZipWriter, ReadersFindEveryFileWithItsNameBytesAndChecksum)
{
    ZipWriter writer(std::chrono::system_clock::now());
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs{
        {"frame-000002.tif", {'I', 'I', 42, 0, 1, 2, 3, 255}}, {"empty.tif", {}}, {"frame-000003.tif", {0, 0, 7}}};
    std::string zip;
    for (const auto& [name, data] : inputs) {
        std::string piece;
        std::string error;
        ASSERT_TRUE(writer.add(name, data, piece, error)) << error;
        zip += piece;
    }
    zip += writer.finish();
    const std::vector<Found> files = readZip(zip);
    ASSERT_EQ(files.size(), inputs.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& [name, data] = inputs[i];
        EXPECT_EQ(files[i].name, name);
        EXPECT_EQ(files[i].data, std::string(data.begin(), data.end()));
        EXPECT_EQ(files[i].crc, crc32(0, data.data(), static_cast<uInt>(data.size()))) << name;
    }
}

TEST(ZipWriter, AnEmptyArchiveIsJustItsEndRecord)
{
    ZipWriter writer(std::chrono::system_clock::now());
    EXPECT_TRUE(readZip(writer.finish()).empty());
}

TEST(ZipWriter, MoreFilesThanPlainZipCountsAreRefused)
{
    ZipWriter writer(std::chrono::system_clock::now());
    std::string piece;
    std::string error;
    for (std::size_t i = 0; i < ZipWriter::kMaxFiles; ++i)
        ASSERT_TRUE(writer.add("f", {}, piece, error)) << i << ": " << error;
    EXPECT_FALSE(writer.add("f", {}, piece, error));
    EXPECT_NE(error.find("server"), std::string::npos) << "the refusal names the way out: " << error;
}

} // namespace
