// --file: the system file read once, described and checked before anything is sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "appdata/DMU.h"
#include "appdata/FileCheck.h"
#include "cli/Options.h"

struct TCheckedFile {
  TSystemFileFacts Facts;
  bool Forced = false;  // written without a description block because of --force
  // The bytes every job writes; null when the file could not be read (the job then says why).
  std::shared_ptr<const std::vector<std::uint8_t>> Bytes;
  // The images every job sends, read once with the file (null with Bytes).
  std::shared_ptr<const TImagesLoad> Images;
};

// Reads --file once and checks it. Returns 0 when the jobs may start; otherwise the exit status,
// with the reason printed on standard error. mustRead: a file that cannot be read is refused
// here too (the station), else it is left to the job, which reports it as it always did.
int CheckFileArgument(TDM& dm, const TCliOptions& options, bool mustRead, TCheckedFile& out);
