// Family capture settings: the record and register encodings, the image memory arithmetic, and
// the computation and merge of HX_CAPTURE_SETTINGS (validation: capture_validator.h). Pure: no
// camera traffic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <hx/hx.h>

#include "control/register_channel.h"
#include "registers/register_cache.h"
#include "sensors/sensor_operations.h"

namespace halvex::family::capture {

// How a camera holds its frame rate register: whole frames per second, or (second family) also
// fractions, as frames per second times 65536 with bit 31 set.
enum class RateEncoding { WholeFrames, Fractional };

// Frames per second held by a frame rate register value.
double decodeFrameRate(uint32_t value, RateEncoding encoding);

// Record value <-> register value. The "to register" forms give nothing for a value the record
// may not hold; the "from register" forms map every register value to some record value.
std::optional<uint32_t> bitModeToRegister(uint32_t bitMode);
uint32_t bitModeFromRegister(uint32_t code);
std::optional<uint32_t> bnsModeToRegister(uint32_t bnsMode);
uint32_t bnsModeFromRegister(uint32_t code);
std::optional<uint32_t> fpnModeToRegister(uint32_t fpnMode);
uint32_t fpnModeFromRegister(uint32_t code);
bool isRecordMode(uint32_t mode);
uint32_t recordModeFromRegister(uint32_t code);

// The camera's image memory as its capture registers describe it, in 16-byte units, for frames of
// a given size. In page mode (bit 31 of the record mode register) capacity counts whole pages.
class ImageMemory {
public:
    ImageMemory(const registers::RegisterCache& capture, uint64_t frameBytes);

    // Units one frame takes: its bytes rounded up to 16, plus a 32-byte header.
    uint64_t frameUnits() const;
    // Frames that fit `units` of memory. Throws thread::LogicError for a 0-byte frame.
    uint32_t frameCapacity(uint64_t units) const;
    // The memory address just past `frames` frames from the base, rounded up to a segment.
    uint64_t memoryEnd(uint32_t frames) const;
    // The recording room: limit minus reserve (0 when the camera reports them the wrong way round).
    uint64_t room() const;
    // The longest recording the memory holds.
    uint32_t lengthMax() const;
    // Memory units from the base up to the limit, less the reserve: what lengthMax() counts.
    uint64_t usableUnits() const;

    uint64_t frameBytes() const { return frameBytes_; }
    uint32_t base() const { return base_; }
    uint32_t end() const { return end_; }
    uint32_t reserve() const { return reserve_; }
    uint32_t limit() const { return limit_; }

private:
    uint64_t frameBytes_;
    bool pageMode_;
    uint32_t pages_;
    uint32_t base_;
    uint32_t end_;
    uint32_t reserve_;
    uint32_t limit_;
};

// The register writes of one setCaptureSettings call: the pairs written inside the settings
// batch, and those written after it.
struct CaptureWrites {
    wire::RegisterPairs record;
    wire::RegisterPairs late;

    bool empty() const { return record.empty() && late.empty(); }
    // Everything in write order: batch on, record pairs, batch off, late pairs. The batch pairs
    // appear only around record pairs.
    wire::RegisterPairs ordered() const;
};

// Fills a capture record from the sensor and capture register caches (the caller holds the
// owner's state mutex). Throws thread::LogicError when the caches hold no frame geometry.
void computeCapture(const sensors::SensorOperations& sensor, registers::RegisterCache& sensorRegisters,
                    registers::RegisterCache& captureRegisters, const std::string& cameraName,
                    HX_CAPTURE_SETTINGS& record, RateEncoding encoding = RateEncoding::WholeFrames);

// Why no camera could hold the values of a computed record (a region off the sensor, an exposure
// longer than a frame at the slowest rate), or empty when they are plausible. The control protocol
// carries no checksum, so a bit flipped on the way shows only as such a value. The region is held
// to the limits validation applies for the binning the record shows: binning lifts the sensor's
// upper limits (a binned camera may hold a region beyond them), so only the lower limits hold then.
std::string implausibleCapture(const HX_CAPTURE_SETTINGS& record);

// True when the register value read back shows the value written (the record mode is written as
// a mode and read back as bits).
bool readsBackAs(uint32_t reg, uint32_t written, uint32_t held);

// Copies every group of `cached` whose values differ from `caller` into `caller`, marking the
// field, its section and the record HX_FLAG_CHG. Flags words are never copied; the rate divisor
// and the low-light limits are always copied.
void mergeCapture(const HX_CAPTURE_SETTINGS& cached, HX_CAPTURE_SETTINGS& caller);

// Sets HX_FLAG_ERR and HX_FLAG_CHG of the record flags from its three section flags words.
void summariseCaptureFlags(HX_CAPTURE_SETTINGS& record);

// Clears HX_FLAG_ERR and HX_FLAG_CHG in every flags word, so a reused record reports this call only.
void clearCaptureOutcome(HX_CAPTURE_SETTINGS& record);

// Compares two dotted version texts component by component (each cut at its first NUL; a missing
// component counts 0): 1 when a is the higher, -1 when b is, 0 when they are equal.
int compareVersions(const std::string& a, const std::string& b);

// The analog gain record bit for a gain register value (bit 31 is a flag, not value).
uint32_t analogGainFromRegister(uint32_t value);
std::optional<uint32_t> analogGainToRegister(uint32_t gain);

} // namespace halvex::family::capture
