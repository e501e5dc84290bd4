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

// The keys of every kind with their value forms, for --help.
std::string recordKeysHelp();

} // namespace hxcam
