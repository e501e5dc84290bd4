// hxcam record fields: the names users give the fields of the input/output, download, stream and
// analog gain records, how their values are written on the command line, and how a record is shown.
#pragma once

#include <string>
#include <vector>

#include <hx/hx.h>

namespace hxcam {

// One kind of record hxcam reads and changes as key=value lines.
enum class RecordKind { Io, Download, Stream, Gain };

// The record kind a command word names ("io", "download", "stream", "gain"); false for others.
bool recordKind(const std::string& word, RecordKind& kind);

// Any of the four records; the kind says which member is in use.
struct AnyRecord {
    RecordKind kind = RecordKind::Io;
    HX_IO_SETTINGS io;
    HX_DOWNLOAD_SETTINGS download;
    HX_STREAM_SETTINGS stream;
    HX_ANALOG_GAIN gain;
};

// A record of the kind as its initialiser leaves it.
AnyRecord emptyRecord(RecordKind kind);

// Applies one "key=value", marking the field (and its group and the record) HX_FLAG_SET. False,
// with the reason in `error`, for an unknown key or a value that is not one of the key's forms.
bool applySetting(AnyRecord& record, const std::string& assignment, std::string& error);

// One "key=value" line per field, with the limits the record holds after "  # ", and "[refused]"
// for fields the last call refused or "[changed]" for fields asked for whose value the camera
// holds differently.
std::vector<std::string> describe(const AnyRecord& record);

// "key=value" for every field the record marks refused, with the value asked for in `requested`.
std::vector<std::string> refusedFields(const AnyRecord& record, const AnyRecord& requested);

// The library marked the write as a whole failed (no acknowledge in time, or the camera's error
// status), not a field refused.
bool writeFailed(const AnyRecord& after);

// After a failed write: the fields asked for in `requested` that a fresh read (`camera`) shows the
// camera holding, as "key=value"; they are taken into `after` with their marks cleared.
// `unconfirmed` counts the fields asked for that the camera does not hold.
std::vector<std::string> appliedDespiteFailure(AnyRecord& after, const AnyRecord& requested, const AnyRecord& camera,
                                               std::size_t& unconfirmed);

// Reports a settings write on standard error: the fields that timed out though the camera holds
// them, the fields it refused, and a write the camera did not confirm. Returns hxcam's exit
// status: 2 for an unconfirmed write, 3 for a refusal, 0 otherwise.
int reportWrite(const std::vector<std::string>& timedOut, const std::vector<std::string>& refused, bool failed,
                std::size_t unconfirmed);

// The keys of every kind with their value forms, for --help.
std::string recordKeysHelp();

} // namespace hxcam
