// Thousands of mixed register and memory operations from several threads against a camera that
// loses one datagram in twenty: each completes correctly or fails as "busy" within its time limit.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "control/hx_comm.h"
#include "hlv_thread/period_scale.h"
#include "scripted_camera.h"

using namespace halvex::control;

using namespace hx_comm_test;
using namespace std::chrono_literals;

namespace {

constexpr int kThreads = 4;
constexpr int kOperationsPerThread = 750;
constexpr int kRegisters = 8;
constexpr std::size_t kMemoryBytes = 64;
// Age-out at 1/100 of its period: 50 ticks of 1 ms. The limit only catches a waiter that hangs.
constexpr double kPeriodScale = 0.01;
constexpr auto kTimeLimit = 5s;

// What one thread knows about its own registers and memory: every value each may hold now.
// A write that timed out may or may not have reached the camera.
struct Expected {
    std::map<uint32_t, std::set<uint32_t>> registers;
    std::set<std::vector<uint8_t>> memory{std::vector<uint8_t>(kMemoryBytes, 0)};
};

struct Tally {
    std::atomic<int> succeeded{0};
    std::atomic<int> busy{0};
};

class Worker {
public:
    Worker(uint32_t camera, int index, Tally& tally)
        : camera_(camera), registerBase_(0x20000 + 0x100 * uint32_t(index)),
          memoryBase_(0x100000 + 0x1000 * uint32_t(index)), random_(uint32_t(1000 + index)), tally_(tally)
    {
        for (int i = 0; i < kRegisters; ++i)
            expected_.registers[address(i)] = {0};
    }

    void run()
    {
        for (int i = 0; i < kOperationsPerThread && !::testing::Test::HasFailure(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            const uint32_t result = step();
            ASSERT_LT(std::chrono::steady_clock::now() - start, kTimeLimit) << "operation " << i;
            ASSERT_TRUE(result == 0 || result == 12) << "operation " << i << " returned " << result;
            ++(result == 0 ? tally_.succeeded : tally_.busy);
        }
    }

private:
    uint32_t address(int i) const { return registerBase_ + 4 * uint32_t(i); }
    uint32_t anyRegister() { return address(int(random_() % kRegisters)); }

    uint32_t step()
    {
        switch (random_() % 6) {
        case 0: return readOne();
        case 1: return writeOne();
        case 2: return readSeveral();
        case 3: return writeSeveral();
        case 4: return readMemory();
        default: return writeMemory();
        }
    }

    void wrote(uint32_t reg, uint32_t value, uint32_t result)
    {
        auto& values = expected_.registers[reg];
        if (result == 0)
            values.clear();
        values.insert(value);
    }

    void read(uint32_t reg, uint32_t value)
    {
        auto& values = expected_.registers[reg];
        EXPECT_EQ(values.count(value), 1u) << std::hex << "register 0x" << reg << " read 0x" << value;
        values = {value};
    }

    uint32_t readOne()
    {
        const uint32_t reg = anyRegister();
        uint32_t value = 0;
        const uint32_t result = HxComm::readReg(camera_, reg, value);
        if (result == 0)
            read(reg, value);
        return result;
    }

    uint32_t writeOne()
    {
        const uint32_t reg = anyRegister();
        const uint32_t value = random_();
        const uint32_t result = HxComm::writeReg(camera_, reg, value);
        wrote(reg, value, result);
        return result;
    }

    uint32_t readSeveral()
    {
        halvex::wire::RegisterPairs pairs = {{address(0), 0}, {address(3), 0}, {address(5), 0}};
        const uint32_t result = HxComm::readMultiReg(camera_, pairs);
        if (result == 0) {
            for (const auto& [reg, value] : pairs)
                read(reg, value);
        }
        return result;
    }

    uint32_t writeSeveral()
    {
        const halvex::wire::RegisterPairs pairs = {
            {address(1), uint32_t(random_())}, {address(3), uint32_t(random_())}, {address(6), uint32_t(random_())}};
        const uint32_t result = HxComm::writeMultiReg(camera_, pairs);
        for (const auto& [reg, value] : pairs)
            wrote(reg, value, result);
        return result;
    }

    uint32_t readMemory()
    {
        std::vector<uint8_t> data;
        const uint32_t result = HxComm::readMem(camera_, memoryBase_, data, kMemoryBytes);
        if (result == 0) {
            EXPECT_EQ(expected_.memory.count(data), 1u) << "memory read back something never written";
            expected_.memory = {data};
        }
        return result;
    }

    uint32_t writeMemory()
    {
        std::vector<uint8_t> data(kMemoryBytes);
        for (uint8_t& byte : data)
            byte = uint8_t(random_());
        const uint32_t result = HxComm::writeMem(camera_, memoryBase_, data);
        if (result == 0)
            expected_.memory.clear();
        expected_.memory.insert(data);
        return result;
    }

    const uint32_t camera_;
    const uint32_t registerBase_;
    const uint32_t memoryBase_;
    std::mt19937 random_;
    Tally& tally_;
    Expected expected_;
};

} // namespace

TEST(ChannelStressTest, MixedOperationsFromSeveralThreadsOverALossyLink)
{
    halvex::thread::setPeriodScale(kPeriodScale);
    ScriptedCamera camera{"127.0.0.4"};
    std::mutex lock;
    std::mt19937 loss(20240601);
    std::bernoulli_distribution lost(0.05);
    camera.setScript([&](const SentCommand& command) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (lost(loss))
                return std::vector<Bytes>{}; // the command never arrived
        }
        std::vector<Bytes> answers = camera.answer(command);
        std::lock_guard<std::mutex> guard(lock);
        return lost(loss) ? std::vector<Bytes>{} : answers; // the answer never arrived
    });

    Tally tally;
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers.push_back(std::make_unique<Worker>(camera.address(), i, tally));
        threads.emplace_back([&worker = *workers.back()] { worker.run(); });
    }
    for (std::thread& thread : threads)
        thread.join();
    camera.answerNormally();
    HxComm::recycle(camera.address());
    halvex::thread::setPeriodScale(1.0);

    EXPECT_EQ(tally.succeeded + tally.busy, kThreads * kOperationsPerThread);
    EXPECT_GT(tally.busy, 0) << "the lossy link should have cost some operations";
    EXPECT_GT(tally.succeeded, tally.busy * 4);
}
