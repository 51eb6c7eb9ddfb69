#include "appdata/FileCheck.h"

#include <cstdio>

#include "appdata/DMU.h"
#include "appdata/Language.h"

TFileDescription ReadFileDescription(const std::uint8_t* bytes, std::size_t count) {
  TFileDescription description;
  TDescriptionFields fields;
  if (!FindDescriptionFields(bytes, count, fields)) return description;
  // The facts' fields lose the blanks the block pads them with.
  description.Present = true;
  description.Device = TrimBlanks(fields.Device);
  description.Version = TrimBlanks(fields.Major) + "." + TrimBlanks(fields.Minor);
  description.Date = TrimBlanks(fields.Date);
  description.Time = TrimBlanks(fields.Time);
  description.Comment = TrimBlanks(fields.Comment);
  return description;
}

TSystemFileFacts SystemFileFacts(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  TSystemFileFacts facts;
  facts.Path = path;
  facts.Size = bytes.size();
  facts.Sum = ByteSum(bytes.data(), bytes.size());
  facts.Description = ReadFileDescription(bytes.data(), bytes.size());
  return facts;
}

TFileCheck CheckSystemFile(const TSystemFileFacts& facts, const std::string& expectVersion) {
  TFileCheck check;
  const TFileDescription& d = facts.Description;
  const std::string file = "\"" + facts.Path + "\"";
  if (!d.Present) {
    check.Verdict = TFileVerdict::NoDescription;
    check.Reason = IsRussian ? "В файле " + file +
                                   " нет блока описания (устройство, версия): возможно, он не "
                                   "для этого приемника."
                             : "The file " + file +
                                   " has no description block (device, version): it may not be "
                                   "for this receiver.";
  } else if (d.Device != ReceiverDeviceId) {
    check.Verdict = TFileVerdict::OtherDevice;
    const std::string device = d.Device.empty() ? "?" : d.Device;
    check.Reason = IsRussian ? "Файл " + file + " предназначен для устройства " + device +
                                   ", а не для " + ReceiverDeviceId + "."
                             : "The file " + file + " is for the device " + device + ", not for " +
                                   ReceiverDeviceId + ".";
  } else if (!expectVersion.empty() && d.Version != expectVersion) {
    check.Verdict = TFileVerdict::OtherVersion;
    check.Reason =
        IsRussian
            ? "Файл " + file + " содержит версию " + d.Version + ", а не " + expectVersion + "."
            : "The file " + file + " holds version " + d.Version + ", not " + expectVersion + ".";
  }
  return check;
}

std::vector<std::uint8_t> SystemImageOfFile(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> image(file.size() + 8);
  const auto size = static_cast<std::uint32_t>(file.size());
  const std::uint32_t sum = ByteSum(file.data(), file.size());
  for (int i = 0; i < 4; ++i) {
    image[i] = static_cast<std::uint8_t>(size >> (8 * i));
    image[4 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  }
  std::copy(file.begin(), file.end(), image.begin() + 8);
  return image;
}

std::string SumText(std::uint32_t sum) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", sum);
  return text;
}
