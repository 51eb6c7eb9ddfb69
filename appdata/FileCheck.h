// What a system file is, read once: its size and sum, its description block, and whether it may
// be written into a ZV-8810. The station's banner, the reports and the history are made from
// these plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The device identifier a system file for this receiver names in its description block.
constexpr const char* ReceiverDeviceId = "ZV8810";

// The description block's fields, blanks trimmed; Present is false without a whole block.
struct TFileDescription {
  bool Present = false;
  std::string Device;
  std::string Version;  // first part "." second part ("3.09")
  std::string Date;     // as the block writes it ("Nov 26 2009")
  std::string Time;
  std::string Comment;
};

TFileDescription ReadFileDescription(const std::uint8_t* bytes, std::size_t count);

enum class TFileVerdict {
  Writable,       // a description block that names this receiver (and the expected version)
  NoDescription,  // no description block: written only when the operator insists
  OtherDevice,    // the block names another device: never written
  OtherVersion,   // the block names another version than the one expected
};

struct TSystemFileFacts {
  std::string Path;
  std::uint64_t Size = 0;
  std::uint32_t Sum = 0;  // the byte sum of the file (the image header's second word)
  TFileDescription Description;
};

struct TFileCheck {
  TFileVerdict Verdict = TFileVerdict::Writable;
  std::string Reason;  // why it is not writable, in the operator's language; empty when it is
};

// The file's facts from its bytes.
TSystemFileFacts SystemFileFacts(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Whether the file may be written into this receiver; expectVersion empty: any version.
TFileCheck CheckSystemFile(const TSystemFileFacts& facts, const std::string& expectVersion);
// The image the programming thread writes: the file's size and byte sum (32-bit little-endian),
// then the file.
std::vector<std::uint8_t> SystemImageOfFile(const std::vector<std::uint8_t>& file);
// "0x002E78D7"
std::string SumText(std::uint32_t sum);
