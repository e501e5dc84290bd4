// The camera database's rules: which replies enter, how cameras age out, the ignore list and lookups.
#include "discovery/discovery_db.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "addresses.h"

namespace {

using halvex::discovery::DiscoveryDb;
using halvex::discovery::Reply;

using hx_test::ip;

// A discovery acknowledge laid out by hand: 8-byte header, then the payload fields at their offsets.
struct ReplyFields {
    const char* address = "10.0.0.5";
    const char* manufacturer = "halvex";
    const char* model = "qT-1000";
    const char* version = "2.3.6";
    const char* info = "sensor lux19hs";
    const char* serial = "SN0001";
    const char* name = "alpha";
};

void put(Reply& reply, std::size_t offset, std::size_t room, const char* text)
{
    std::memcpy(reply.data() + offset, text, std::min(std::strlen(text), room));
}

Reply makeReply(const ReplyFields& fields = {})
{
    Reply reply{};
    reply[0] = 0x00; // status: success
    reply[1] = 0x00;
    reply[2] = 0x00; // answer: DISCOVERY_ACK
    reply[3] = 0x03;
    reply[4] = 0x00; // payload length 248
    reply[5] = 0xF8;
    reply[6] = 0x12; // acknowledge id, not checked
    reply[7] = 0x34;
    const uint32_t current = ip(fields.address);
    std::memcpy(reply.data() + 44, &current, 4);
    put(reply, 80, 32, fields.manufacturer);
    put(reply, 112, 32, fields.model);
    put(reply, 144, 32, fields.version);
    put(reply, 176, 48, fields.info);
    put(reply, 224, 16, fields.serial);
    put(reply, 240, 16, fields.name);
    return reply;
}

struct Found {
    uint32_t address;
    std::string name;
    HX_CAMERA_INFORMATION info;
};
struct LostCamera {
    uint32_t address;
    std::string name;
};

// Records what the database reports. It looks the camera up again from inside each report, as
// the real services do, which would deadlock if the database still held its mutex.
class RecordingEvents : public halvex::discovery::DiscoveryEvents {
public:
    DiscoveryDb* db = nullptr;
    std::vector<Found> found;
    std::vector<LostCamera> lost;

    std::string adapterName(uint32_t) override { return "eth-test"; }
    void cameraFound(uint32_t address, const std::string& name, const HX_CAMERA_INFORMATION& info) override
    {
        Reply copy{};
        EXPECT_TRUE(db->getByAddr(address, copy)) << "a found camera is already in the database";
        // A returning camera gets its fresh control channel here: a host waiting to use it must
        // not go on before.
        EXPECT_FALSE(db->waitForCamera(address, std::chrono::steady_clock::now()))
            << "a host waiting for the camera went on before its found-event was handled";
        found.push_back({address, name, info});
    }
    void cameraLost(uint32_t address, const std::string& name) override
    {
        Reply copy{};
        EXPECT_FALSE(db->getByAddr(address, copy)) << "a lost camera has already left the database";
        lost.push_back({address, name});
    }
};

class DiscoveryDbTest : public ::testing::Test {
protected:
    DiscoveryDbTest() { events.db = &db; }
    void reply(const ReplyFields& fields = {}) { db.addCamera(makeReply(fields), ip(fields.address)); }
    void polls(int count)
    {
        for (int i = 0; i < count; ++i)
            db.decrementTimeout();
    }

    RecordingEvents events;
    DiscoveryDb db{events};
};

TEST_F(DiscoveryDbTest, ManufacturerIsComparedIgnoringCaseAndOthersAreIgnoredForEver)
{
    reply({.address = "10.0.0.1", .manufacturer = "HALVEX"});
    reply({.address = "10.0.0.2", .manufacturer = "HalVex"});
    reply({.address = "10.0.0.3", .manufacturer = "halvex inc"});
    reply({.address = "10.0.0.4", .manufacturer = ""});
    EXPECT_EQ(db.addresses(), (std::vector<uint32_t>{ip("10.0.0.1"), ip("10.0.0.2")}));
    EXPECT_EQ(db.ignoreCount(ip("10.0.0.3")), -1);
    EXPECT_EQ(db.ignoreCount(ip("10.0.0.4")), -1);
    // Even a reply that would now pass stays ignored, and reports nothing.
    reply({.address = "10.0.0.3"});
    EXPECT_EQ(db.addresses().size(), 2u);
    EXPECT_EQ(db.ignoreCount(ip("10.0.0.3")), -1);
    EXPECT_EQ(events.found.size(), 2u);
}

TEST_F(DiscoveryDbTest, FirmwareOlderThan236IsIgnoredForEver)
{
    const std::vector<std::pair<const char*, bool>> versions = {{"2.3.6", true},  {"3.0.0", true},
                                                                {"2.4.0", true},  {"2.10.0", true},
                                                                {"10.0.0", true}, {"2.3.7-rc1", true},
                                                                {"2.3.5", false}, {"2.2.9", false},
                                                                {"1.9.9", false}, {"2.3", false},
                                                                {"", false},      {"garbage", false},
                                                                {"2..6", false},  {"99999999999999999999.0.0", true}};
    uint8_t host = 1;
    for (const auto& [version, accepted] : versions) {
        const std::string address = "10.1.0." + std::to_string(host++);
        reply({.address = address.c_str(), .version = version});
        Reply stored{};
        EXPECT_EQ(db.getByAddr(ip(address.c_str()), stored), accepted) << version;
        EXPECT_EQ(db.ignoreCount(ip(address.c_str())).has_value(), !accepted) << version;
    }
}

TEST_F(DiscoveryDbTest, FoundEventCarriesTheRecordWithEveryTextBoundedAndTerminated)
{
    reply({.model = "qX-2000 with a model name too long for 32",
           .version = "2.5.10",
           .info = "0123456789012345678901234567890123456789012345678", // 49 characters: one beyond the field
           .serial = "SERIAL-NUMBER-16",                                // fills the field, no NUL
           .name = "sixteen-char-nam"});                                // fills the field, no NUL
    ASSERT_EQ(events.found.size(), 1u);
    const Found& found = events.found[0];
    EXPECT_EQ(found.address, ip("10.0.0.5"));
    EXPECT_EQ(found.name, "sixteen-char-nam");
    const HX_CAMERA_INFORMATION& info = found.info;
    EXPECT_EQ(info.ver_maj, 2);
    EXPECT_EQ(info.ver_min, 12);
    EXPECT_STREQ(info.adapter_name, "eth-test");
    EXPECT_STREQ(info.device_version, "2.5.10");
    EXPECT_STREQ(info.manufacturer_info, "012345678901234567890123456789012345678901234567");
    EXPECT_STREQ(info.manufacturer_name, "halvex");
    EXPECT_STREQ(info.model_name, "qX-2000 with a model name too lo");
    EXPECT_STREQ(info.serial_number, "SERIAL-NUMBER-16");
    EXPECT_STREQ(info.user_name, "sixteen-char-nam");
}

TEST_F(DiscoveryDbTest, CameraIsLostAtTheSixthSilentPollAndFoundAgainWhenItAnswers)
{
    reply();
    EXPECT_EQ(db.timer(ip("10.0.0.5")), 6);
    polls(3);
    EXPECT_EQ(db.timer(ip("10.0.0.5")), 3);
    reply(); // a duplicate: refreshes, reports nothing
    EXPECT_EQ(db.timer(ip("10.0.0.5")), 6);
    EXPECT_EQ(events.found.size(), 1u);
    polls(5);
    EXPECT_EQ(db.timer(ip("10.0.0.5")), 1);
    EXPECT_TRUE(events.lost.empty());
    polls(1);
    ASSERT_EQ(events.lost.size(), 1u);
    EXPECT_EQ(events.lost[0].address, ip("10.0.0.5"));
    EXPECT_EQ(events.lost[0].name, "alpha");
    EXPECT_TRUE(db.addresses().empty());
    polls(10);
    EXPECT_EQ(events.lost.size(), 1u);
    reply();
    EXPECT_EQ(events.found.size(), 2u);
    EXPECT_EQ(db.timer(ip("10.0.0.5")), 6);
}

TEST_F(DiscoveryDbTest, CameraIsListedUnderItsSourceWhateverAddressItReports)
{
    // A camera without a configured address reports 0.0.0.0; it is found where it answered from.
    db.addCamera(makeReply({.address = "0.0.0.0", .name = "unset"}), ip("10.0.0.9"));
    ASSERT_EQ(events.found.size(), 1u);
    EXPECT_EQ(events.found[0].address, ip("10.0.0.9"));
    EXPECT_EQ(events.found[0].name, "unset");
    EXPECT_EQ(db.addresses(), std::vector<uint32_t>{ip("10.0.0.9")});
    // A later reply from the same source refreshes the entry and replaces what it stores.
    polls(2);
    db.addCamera(makeReply({.address = "10.0.0.7", .name = "renamed"}), ip("10.0.0.9"));
    EXPECT_EQ(db.timer(ip("10.0.0.9")), 6);
    EXPECT_EQ(events.found.size(), 1u);
    Reply stored{};
    ASSERT_TRUE(db.getByAddr(ip("10.0.0.9"), stored));
    EXPECT_EQ(halvex::discovery::userDefinedName(stored), "renamed");
    uint32_t listed = 0;
    ASSERT_TRUE(db.getByName("renamed", stored, &listed));
    EXPECT_EQ(listed, ip("10.0.0.9"));
    // Lost under the same key: its handle, channel and service are those of the source.
    db.addCamera(makeReply({.address = "0.0.0.0", .name = "renamed"}), ip("10.0.0.9"));
    polls(6);
    ASSERT_EQ(events.lost.size(), 1u);
    EXPECT_EQ(events.lost[0].address, ip("10.0.0.9"));
}

TEST_F(DiscoveryDbTest, RemovalIgnoresFourRepliesAndTheFifthAddsTheCameraAgain)
{
    reply();
    db.removeCamera(ip("10.0.0.5"));
    ASSERT_EQ(events.lost.size(), 1u);
    EXPECT_EQ(events.lost[0].name, "alpha");
    EXPECT_EQ(db.ignoreCount(ip("10.0.0.5")), 5);
    for (int ignored = 0; ignored < 4; ++ignored) {
        reply();
        EXPECT_TRUE(db.addresses().empty()) << "reply " << ignored + 1;
    }
    reply();
    EXPECT_EQ(db.addresses(), std::vector<uint32_t>{ip("10.0.0.5")});
    EXPECT_FALSE(db.ignoreCount(ip("10.0.0.5")).has_value());
    EXPECT_EQ(events.found.size(), 2u);

    // Removing an address the database does not know changes nothing.
    db.removeCamera(ip("10.0.0.77"));
    EXPECT_EQ(events.lost.size(), 1u);
    EXPECT_FALSE(db.ignoreCount(ip("10.0.0.77")).has_value());
}

TEST_F(DiscoveryDbTest, IgnoreListNeverOverwritesAnExistingCount)
{
    reply({.manufacturer = "acme"});
    db.removeCamera(ip("10.0.0.5")); // unknown camera: nothing to do
    reply();
    EXPECT_EQ(db.ignoreCount(ip("10.0.0.5")), -1);
    EXPECT_TRUE(db.addresses().empty());
}

TEST_F(DiscoveryDbTest, NameLookupIsExactCaseSensitiveAndPrefersTheLowerKey)
{
    // Keys are the network-order address read as a little-endian number: the last octet weighs most.
    reply({.address = "9.0.0.4", .name = "twin"});
    reply({.address = "10.0.0.3", .name = "twin"});
    reply({.address = "10.0.0.2", .name = "Solo"});
    Reply out{};
    ASSERT_TRUE(db.getByName("twin", out));
    uint32_t current = 0;
    std::memcpy(&current, out.data() + 44, 4);
    EXPECT_EQ(current, ip("10.0.0.3"));
    EXPECT_TRUE(db.getByName("Solo", out));
    EXPECT_FALSE(db.getByName("solo", out));
    EXPECT_FALSE(db.getByName("Sol", out));
    EXPECT_FALSE(db.getByName("Solo ", out));
    EXPECT_FALSE(db.getByName("", out));
}

// The camera is added only once the lookup is already waiting, so it is the add that wakes it;
// a camera refused meanwhile ends the wait too, unfound.
TEST_F(DiscoveryDbTest, WaitForCameraWakesWhenAnotherThreadAddsOrRefusesIt)
{
    const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    EXPECT_FALSE(db.waitForCamera(ip("10.0.0.5"), soon));
    const auto waitThenAdd = [this](const std::function<void()>& add) {
        auto waited = std::async(std::launch::async, [this] {
            return db.waitForCamera(ip("10.0.0.5"), std::chrono::steady_clock::now() + std::chrono::seconds(30));
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (db.waiters() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(db.waiters(), 1u) << "the lookup never started waiting";
        add();
        EXPECT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the wait was not woken";
        return waited.get();
    };
    EXPECT_TRUE(waitThenAdd([this] { reply(); }));
    db.cameraErase(ip("10.0.0.5"));
    EXPECT_FALSE(waitThenAdd([this] { reply({.manufacturer = "acme"}); }));
    EXPECT_NE(db.refusal(ip("10.0.0.5")).value_or("").find("maker \"acme\""), std::string::npos);
}

} // namespace
