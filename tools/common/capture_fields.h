// Capture fields: the names users give the fields of HX_CAPTURE_SETTINGS, how their values
// are written on the command line, and how a record is shown.
#pragma once

#include <string>
#include <vector>

#include <hx/hx.h>

namespace halvex::common {

// Splits "key=value" at its first '=' (the key not empty); false, with the reason in `error`, for
// anything else. Every record's settings are written this way.
bool splitAssignment(const std::string& assignment, std::string& key, std::string& value, std::string& error);

// Applies one "key=value" to the record, marking the field and its group HX_FLAG_SET. False, with
// the reason in `error`, for an unknown key or a value that is not one of the key's forms.
bool applyCaptureSetting(HX_CAPTURE_SETTINGS& record, const std::string& assignment, std::string& error);

// One "key=value" line per field, each followed by "  # limits" where the record has them and by
// "[refused]" for fields the last call refused, or "[changed]" for fields asked for in
// `requested` whose value the camera holds differently.
std::vector<std::string> describeCapture(const HX_CAPTURE_SETTINGS& record,
                                         const HX_CAPTURE_SETTINGS* requested = nullptr);

// One field as a form shows it: its key and value as text, its limits (numbers, or the names it
// may take), and the outcome of the last write: refused, or held differently than asked for.
struct CaptureFieldView {
    std::string key;
    std::string value;
    std::string limits;
    bool hasRange = false;
    uint32_t min = 0;
    uint32_t max = 0;
    std::vector<std::string> choices;
    bool refused = false;
    bool changed = false;
};
std::vector<CaptureFieldView> captureFieldViews(const HX_CAPTURE_SETTINGS& record,
                                                const HX_CAPTURE_SETTINGS* requested = nullptr);

// True when the record asks for exposure-section values together with values of the other
// sections; split() then moves the exposure section into `exposure`, so it can be applied after
// the frame period it depends on has changed.
bool split(HX_CAPTURE_SETTINGS& record, HX_CAPTURE_SETTINGS& exposure);

// Copies the outcome (flags words) of the sensor and record sections from `first` into `record`.
void keepOutcome(const HX_CAPTURE_SETTINGS& first, HX_CAPTURE_SETTINGS& record);

// "key=value (limits)" for every field the record marks refused, with the value asked for in
// `requested` when given (the record itself holds the camera's value by then).
std::vector<std::string> refusedFields(const HX_CAPTURE_SETTINGS& record,
                                       const HX_CAPTURE_SETTINGS* requested = nullptr);

// Fields of a write that was not confirmed (the library marks the record when a write timed out,
// and a field when the camera refused it) although a fresh read (`camera`) shows the camera holding
// the value asked for in `requested`: the camera applied them and only an acknowledge was lost.
// Returns "key=value" for each and clears their marks in `after`, so that only real refusals stay
// marked; `unconfirmed` counts the requested fields of a failed write the camera does not hold.
std::vector<std::string> appliedDespiteTimeout(HX_CAPTURE_SETTINGS& after, const HX_CAPTURE_SETTINGS& requested,
                                               const HX_CAPTURE_SETTINGS& camera, std::size_t& unconfirmed);
// The keys applyCaptureSetting accepts, with their value forms, for --help.
std::string captureKeysHelp();

} // namespace halvex::common
