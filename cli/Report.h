// The production line's JSON report: the tool, the system file, the times and one object per
// receiver with its outcome and its log.
#pragma once

#include <ctime>
#include <string>

#include "cli/FileArgument.h"
#include "cli/IsoTime.h"
#include "cli/JsonWriter.h"
#include "cli/Options.h"
#include "cli/PortJob.h"

// The "file" member's value for the system file (null without one): from the file read and
// checked once when there is one, else read here.
void WriteFileObject(TJsonWriter& json, const std::string& path,
                     const TCheckedFile* checked = nullptr);
// The same from the file's facts.
void WriteFileFacts(TJsonWriter& json, const TSystemFileFacts& facts, bool forced);
// The receiver's identity (ZORP), null when it said nothing about itself.
void WriteIdentity(TJsonWriter& json, const TReceiverIdentity& identity);
// "module 0042, id A7, made 2026-12-01, device ZV8810-GNSS", or "" when nothing is known.
std::string IdentityText(const TReceiverIdentity& identity);
// One receiver's object; finished: with the time its job ended (the station's lines).
// file: the station's system file, written into each line.
void WriteDeviceObject(TJsonWriter& json, TPortJob& job, const std::string* finished = nullptr,
                       const TCheckedFile* file = nullptr);
// Checks before any job starts that the report and the backup folder can be written (the folder
// is created when missing); false with the reason.
bool CheckOutputs(const TCliOptions& options, std::string& reason);
// The one-line result of a job for the summary and the station: "ok", "exit 4" or "stopped".
std::string ResultWord(TPortJob& job);
// The firmware version the job read back, or "-".
std::string FirmwareWord(TPortJob& job);
