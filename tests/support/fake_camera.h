// An in-memory camera behind the register channel interface, for tests of the camera families.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "control/register_channel.h"

namespace hx_test {

// The caches of the stand-in LUX19HS at 2048 x 1024, 8-bit, with 1 GiB of image memory from a
// base of 0x2000000 and a reserve of 0x1000000, at 2000 fps: its sensor and capture groups.
std::map<uint32_t, uint32_t> lux19hsSensorGroup();
std::map<uint32_t, uint32_t> lux19hsCaptureGroup();

// Holds registers and memory texts; reads of an address it lacks fail as a camera would (invalid
// address). Every multi-register write is recorded as sent. A camera rule may adjust each value
// as it is written (clamping), and faults make reads or writes fail with a given result.
class FakeCamera : public halvex::control::RegisterChannel {
public:
    // A first-family camera with a LUX19HS monochrome sensor at 2048 x 1024, 8-bit pixels, 1 GiB
    // of image memory above a base of two segments and a one-segment reserve, running at 2000 fps.
    static std::shared_ptr<FakeCamera> lux19hs(const std::string& model = "hxsim qT");

    uint32_t readReg(uint32_t reg, uint32_t& value) override;
    uint32_t writeReg(uint32_t reg, uint32_t value) override;
    uint32_t readMultiReg(halvex::wire::RegisterPairs& pairs) override;
    uint32_t writeMultiReg(const halvex::wire::RegisterPairs& pairs) override;
    uint32_t readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count) override;
    bool faulted() const override;
    void release() override;

    void set(uint32_t reg, uint32_t value);
    uint32_t get(uint32_t reg) const;
    void setText(uint32_t start, const std::string& text);
    void setMemory(uint32_t start, std::vector<uint8_t> bytes);

    // Every multi-register write received, in order.
    std::vector<halvex::wire::RegisterPairs> multiWrites() const;
    std::size_t exchanges() const;

    // Result for the next writes (0: they succeed) and for reads.
    void failWrites(uint32_t result);
    void failReads(uint32_t result);
    // The next `count` writes go unanswered, as when their acknowledge (applied: the camera took
    // them) or their request (not applied) is lost on the way: each ends in the channel's time-out.
    void loseNextWrites(std::size_t count, bool applied);
    // The next reads of `reg` answer these values in turn instead of the camera's, as when bits
    // flip on the way back.
    void damageReads(uint32_t reg, std::vector<uint32_t> values);
    // Called for every pair written; may change the value the camera keeps.
    void setWriteRule(std::function<uint32_t(uint32_t reg, uint32_t value)> rule);
    // The channel gives up on the camera (as when it was declared lost), or works again.
    void setFaulted(bool faulted);
    // How often the camera's operations let the channel go.
    std::size_t releases() const;
    // Called inside every multi-register write while the camera's lock is not held (lets a test
    // see whether two writes overlap).
    void setWriteHook(std::function<void()> hook);

private:
    bool takeLostWrite();

    mutable std::mutex lock_;
    std::map<uint32_t, uint32_t> registers_;
    std::map<uint32_t, std::vector<uint8_t>> memory_;
    std::vector<halvex::wire::RegisterPairs> multiWrites_;
    std::size_t exchanges_ = 0;
    bool faulted_ = false;
    std::size_t releases_ = 0;
    uint32_t writeFailure_ = 0;
    uint32_t readFailure_ = 0;
    std::size_t lostWrites_ = 0;
    bool lostWritesApplied_ = false;
    std::map<uint32_t, std::vector<uint32_t>> damaged_;
    std::function<uint32_t(uint32_t, uint32_t)> rule_;
    std::function<void()> hook_;
};

} // namespace hx_test
