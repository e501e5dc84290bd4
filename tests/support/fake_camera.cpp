// An in-memory camera behind the register channel interface, for tests of the camera families.
#include "fake_camera.h"

#include <algorithm>

#include "registers/register_map.h"

using namespace halvex::wire;

using namespace halvex::registers;

namespace hx_test {
namespace {

// The control protocol's result for an address the camera does not have.
constexpr uint32_t INVALID_ADDRESS = 10;
// What the control channel answers for a request that aged out unanswered.
constexpr uint32_t TIMED_OUT = 12;

} // namespace

std::map<uint32_t, uint32_t> lux19hsSensorGroup()
{
    return {
        {GIGE_REG_SENSOR_WIDTH_MAX, 2048},  {GIGE_REG_SENSOR_HEIGHT_MAX, 1024}, {GIGE_REG_SENSOR_WIDTH_MIN, 64},
        {GIGE_REG_SENSOR_HEIGHT_MIN, 16},   {GIGE_REG_PIXEL_FORMAT, 16},        {GIGE_REG_ROI_WIDTH, 2048},
        {GIGE_REG_ROI_HEIGHT, 1024},        {GIGE_REG_ROI_X_OFFSET, 0},         {GIGE_REG_ROI_Y_OFFSET, 0},
        {GIGE_REG_FRAME_RATE_LIMIT, 10000}, {GIGE_REG_ANALOG_GAIN, 100},        {GIGE_REG_BNS_MODE, 0x101},
    };
}

// 1 GiB = 0x4000000 units between base and end.
std::map<uint32_t, uint32_t> lux19hsCaptureGroup()
{
    return {
        {GIGE_REG_FPN_MODE, 0},
        {GIGE_REG_RECORD_MODE, 0},
        {GIGE_REG_IMAGE_MEM_PAGES, 262144},
        {GIGE_REG_BROC_LENGTH, 100},
        {GIGE_REG_IMAGE_MEM_END, 0x6000000},
        {GIGE_REG_IMAGE_MEM_BASE, 0x2000000},
        {GIGE_REG_TRIGGER_POSITION, 0x80000000},
        {GIGE_REG_FRAME_RATE, 2000},
        {GIGE_REG_EXPOSURE, 400},
        {GIGE_REG_EXPOSURE_MIN, 2},
        {GIGE_REG_LOW_LIGHT_ENABLE, 0},
        {GIGE_REG_LOW_LIGHT_EXPOSURE, 10000},
        {GIGE_REG_IMAGE_MEM_RESERVE, 0x1000000},
        {GIGE_REG_IMAGE_MEM_LIMIT, 0x7000000},
        {GIGE_REG_EXPOSURE_OVERHEAD, 12},
        {GIGE_REG_RECORD_END_SEGMENT, 1},
    };
}

std::shared_ptr<FakeCamera> FakeCamera::lux19hs(const std::string& model)
{
    auto camera = std::make_shared<FakeCamera>();
    std::map<uint32_t, uint32_t> values{
        {GIGE_REG_SENSOR_TYPE, 0x5839484D},
        {GIGE_REG_CAPTURE_E838, 1},
        // Registers written outside the groups.
        {GIGE_REG_SETTINGS_BATCH, 0},
        {GIGE_REG_CCP, 0},
        {GIGE_REG_BATTERY_CHARGE, (87u << 8) | 3u},
    };
    values.merge(lux19hsSensorGroup());
    values.merge(lux19hsCaptureGroup());
    for (const auto& [reg, value] : values) {
        camera->set(reg, value);
    }
    camera->setText(GIGE_REG_MANUFACTURER_NAME, "halvex");
    camera->setText(GIGE_REG_MODEL_NAME, model);
    camera->setText(GIGE_REG_DEVICE_VERSION, "2.6.0");
    camera->setText(GIGE_REG_MANUFACTURER_INFO, "stand-in camera");
    camera->setText(GIGE_REG_SERIAL_NUMBER, "HXS000001");
    camera->setText(GIGE_REG_USER_DEFINED_NAME, "bench-left");
    return camera;
}

uint32_t FakeCamera::readReg(uint32_t reg, uint32_t& value)
{
    RegisterPairs pairs{{reg, 0}};
    const uint32_t result = readMultiReg(pairs);
    value = pairs.front().value;
    return result;
}

uint32_t FakeCamera::writeReg(uint32_t reg, uint32_t value)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++exchanges_;
    if (writeFailure_ != 0) {
        return writeFailure_;
    }
    const bool lost = takeLostWrite();
    if (!lost || lostWritesApplied_) {
        registers_[reg] = rule_ ? rule_(reg, value) : value;
    }
    return lost ? TIMED_OUT : 0;
}

uint32_t FakeCamera::readMultiReg(RegisterPairs& pairs)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++exchanges_;
    if (readFailure_ != 0) {
        return readFailure_;
    }
    for (auto& [reg, value] : pairs) {
        const auto found = registers_.find(reg);
        if (found == registers_.end()) {
            return INVALID_ADDRESS;
        }
        value = found->second;
        if (auto damaged = damaged_.find(reg); damaged != damaged_.end() && !damaged->second.empty()) {
            value = damaged->second.front();
            damaged->second.erase(damaged->second.begin());
        }
    }
    return 0;
}

void FakeCamera::damageReads(uint32_t reg, std::vector<uint32_t> values)
{
    std::lock_guard<std::mutex> guard(lock_);
    damaged_[reg] = std::move(values);
}

uint32_t FakeCamera::writeMultiReg(const RegisterPairs& pairs)
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hook = hook_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard<std::mutex> guard(lock_);
    ++exchanges_;
    multiWrites_.push_back(pairs);
    if (writeFailure_ != 0) {
        return writeFailure_;
    }
    const bool lost = takeLostWrite();
    if (!lost || lostWritesApplied_) {
        for (const auto& [reg, value] : pairs) {
            registers_[reg] = rule_ ? rule_(reg, value) : value;
        }
    }
    return lost ? TIMED_OUT : 0;
}

uint32_t FakeCamera::readMem(uint32_t start, std::vector<uint8_t>& data, uint32_t count)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++exchanges_;
    if (readFailure_ != 0) {
        return readFailure_;
    }
    const std::size_t size = count == 0 ? 536 : count;
    data.assign(size, 0);
    const auto found = memory_.find(start);
    if (found != memory_.end()) {
        std::copy_n(found->second.begin(), std::min(size, found->second.size()), data.begin());
    }
    return 0;
}

void FakeCamera::set(uint32_t reg, uint32_t value)
{
    std::lock_guard<std::mutex> guard(lock_);
    registers_[reg] = value;
}

uint32_t FakeCamera::get(uint32_t reg) const
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = registers_.find(reg);
    return found == registers_.end() ? 0 : found->second;
}

void FakeCamera::setText(uint32_t start, const std::string& text)
{
    setMemory(start, std::vector<uint8_t>(text.begin(), text.end()));
}

void FakeCamera::setMemory(uint32_t start, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> guard(lock_);
    memory_[start] = std::move(bytes);
}

std::vector<RegisterPairs> FakeCamera::multiWrites() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return multiWrites_;
}

std::size_t FakeCamera::exchanges() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return exchanges_;
}

void FakeCamera::loseNextWrites(std::size_t count, bool applied)
{
    std::lock_guard<std::mutex> guard(lock_);
    lostWrites_ = count;
    lostWritesApplied_ = applied;
}

// Called with the lock held.
bool FakeCamera::takeLostWrite()
{
    if (lostWrites_ == 0) {
        return false;
    }
    --lostWrites_;
    return true;
}

void FakeCamera::failWrites(uint32_t result)
{
    std::lock_guard<std::mutex> guard(lock_);
    writeFailure_ = result;
}

void FakeCamera::failReads(uint32_t result)
{
    std::lock_guard<std::mutex> guard(lock_);
    readFailure_ = result;
}

void FakeCamera::setWriteRule(std::function<uint32_t(uint32_t, uint32_t)> rule)
{
    std::lock_guard<std::mutex> guard(lock_);
    rule_ = std::move(rule);
}

bool FakeCamera::faulted() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return faulted_;
}

void FakeCamera::release()
{
    std::lock_guard<std::mutex> guard(lock_);
    ++releases_;
}

void FakeCamera::setFaulted(bool faulted)
{
    std::lock_guard<std::mutex> guard(lock_);
    faulted_ = faulted;
}

std::size_t FakeCamera::releases() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return releases_;
}

void FakeCamera::setWriteHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = std::move(hook);
}

} // namespace hx_test
