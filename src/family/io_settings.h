// Family input/output settings: the register encodings of the trigger, sync and arm signals, and
// the validation, computation and merge of HX_IO_SETTINGS. Pure: no camera traffic.
#pragma once

#include <cstdint>

#include <hx/hx.h>

#include "control/register_channel.h"
#include "registers/register_cache.h"

namespace halvex::family::io_settings {

// Limits the record reports and the validation holds values to.
inline constexpr uint32_t PULSE_WIDTH_MIN_MS = 1;
inline constexpr uint32_t PULSE_WIDTH_MAX_MS = 8;
inline constexpr uint32_t PULSE_WIDTH_DEFAULT_MS = 2;
inline constexpr uint32_t MASTER_RATE_MIN = 20;
inline constexpr uint32_t MASTER_RATE_MAX = 250000;
inline constexpr uint32_t DIVISOR_MIN = 1;
inline constexpr uint32_t DIVISOR_MAX = 16;
inline constexpr uint32_t SYNC_DELAY_MIN = 0;
inline constexpr uint32_t SYNC_DELAY_MAX = 1000000;
inline constexpr uint32_t ARM_PULSE_MIN = 1;
inline constexpr uint32_t ARM_PULSE_MAX = 255;

// Checks each section whose group flags carry "Set", field by field (fields marked "Set"),
// against the record's own limits, and edits the camera's current register values (`io`, the IO
// group, not changed here) accordingly. Returns the registers whose value changed, in section
// order. A refused field gets HX_FLAG_ERR in its own and its section's flags word and its reason
// is logged; the other fields go on.
wire::RegisterPairs validateIo(HX_IO_SETTINGS& record, const registers::RegisterCache& io);

// Fills the cached record from the IO group. `frameRate` is the capture frame rate, shown as the
// sync input's master rate while the camera holds none.
void computeIo(const registers::RegisterCache& io, uint32_t frameRate, HX_IO_SETTINGS& cached);

// Copies each field whose values differ from the cache into the caller's record, marking the
// field, its section and the record HX_FLAG_CHG. Flags words are never copied.
void mergeIo(const HX_IO_SETTINGS& cached, HX_IO_SETTINGS& caller);

// Clears HX_FLAG_ERR and HX_FLAG_CHG in every flags word of the record.
void clearIoOutcome(HX_IO_SETTINGS& record);
// Sets the record flags' HX_FLAG_ERR and HX_FLAG_CHG from its sections' flags words.
void summariseIo(HX_IO_SETTINGS& record);

} // namespace halvex::family::io_settings
