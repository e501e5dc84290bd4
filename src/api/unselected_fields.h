// Fields marked for writing inside a record or section that is not: the call would ignore them without a word.
#pragma once

#include <hx/hx.h>

namespace halvex::api {

// A field's HX_FLAG_SET counts only when the word that selects its section (a group flags word,
// or the record's own flags) has it too. A host that marks the field alone gets HX_STATUS_OK and
// an unchanged camera, so each call logs one line naming the selecting word that lacks the flag
// and the fields it left out. Nothing in the record changes. Threads: any.
namespace frame {

void reportUnselectedFields(const char* call, const HX_CAPTURE_SETTINGS& record);
void reportUnselectedFields(const char* call, const HX_COMMAND& record);
void reportUnselectedFields(const char* call, const HX_DOWNLOAD_SETTINGS& record);
void reportUnselectedFields(const char* call, const HX_IO_SETTINGS& record);
void reportUnselectedFields(const char* call, const HX_PLAYBACK_SETTINGS& record);

// Records whose fields need no selecting word.
template <class Record>
void reportUnselectedFields(const char* /*call*/, const Record& /*record*/)
{
}

} // namespace frame

} // namespace halvex::api
