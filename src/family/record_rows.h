// Family record rows: the rows of a register-based family's records table, bound to the parts
// that compute each record.
#pragma once

#include <vector>

#include "family/family_camera.h"
#include "family/records_table.h"

namespace halvex::family {

class FamilyCapture;
class FamilyCommands;
class FamilyDownloadSettings;
class FamilyIoSettings;
class FamilyProgress;
class FamilyStreamSettings;

// The parts the rows are bound to; all outlive the table.
struct FamilyRecordSources {
    FamilyCamera& camera;
    FamilyCapture& capture;
    FamilyDownloadSettings& download;
    FamilyIoSettings& io;
    FamilyCommands& commands;
    FamilyStreamSettings& stream;
    FamilyProgress& progress;
};

namespace record_rows {

// Rows in the order the caches are refreshed and a new subscriber's events are posted.
std::vector<Record> familyRows(const FamilyRecordSources& sources);

} // namespace record_rows

} // namespace halvex::family
