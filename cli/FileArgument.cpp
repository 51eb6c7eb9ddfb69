#include "cli/FileArgument.h"

#include <cstdio>
#include <filesystem>

#include "appdata/Language.h"
#include "appdata/MessageSink.h"
#include "cli/ExitCodes.h"

int CheckFileArgument(TDM& dm, const TCliOptions& options, bool mustRead, TCheckedFile& out) {
  // A file that is missing, a folder or empty is left to the job, which says so as it always did.
  std::error_code ec;
  if (!mustRead && (!std::filesystem::is_regular_file(options.File, ec) ||
                    std::filesystem::file_size(options.File, ec) == 0 || ec))
    return ExitSuccess;
  // The data module's load says why a file cannot be used, in the operator's language.
  auto load = std::make_shared<TImagesLoad>(dm.LoadImages(options.File, true));
  if (!load->Images) {
    if (!mustRead) return ExitSuccess;
    if (!load->Refusal.empty()) ShowMessage(load->Refusal);
    return load->SystemFile == TSystemFileLoad::Empty ? ExitDataError : ExitNoInput;
  }
  const std::vector<std::uint8_t>& image = load->Images->SystemImage;
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(image.begin() + 8, image.end());
  out.Facts = SystemFileFacts(options.File, *bytes);
  const TFileCheck check = CheckSystemFile(out.Facts, options.ExpectVersion);
  switch (check.Verdict) {
    case TFileVerdict::Writable:
      break;
    case TFileVerdict::NoDescription:
      if (options.Force) {
        out.Forced = true;
        std::fprintf(stderr, "zv8810-fwu: %s %s\n", check.Reason.c_str(),
                     Tr("Файл записывается, так как задан --force.",
                        "It is written because --force was given."));
        break;
      }
      std::fprintf(stderr, "zv8810-fwu: %s\n%s\n", check.Reason.c_str(),
                   Tr("Ничего не отправлено. Если файл верный, запустите снова с --force.",
                      "Nothing was sent. If it is the right file, run again with --force."));
      return ExitDataError;
    case TFileVerdict::OtherDevice:
    case TFileVerdict::OtherVersion:
      std::fprintf(stderr, "zv8810-fwu: %s\n%s\n", check.Reason.c_str(),
                   Tr("Ничего не отправлено: выберите файл системы этого приемника.",
                      "Nothing was sent: choose this receiver's system file."));
      return ExitDataError;
  }
  out.Bytes = std::move(bytes);
  out.Images = std::move(load);
  return ExitSuccess;
}
