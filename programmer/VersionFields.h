// Where the versions lie in the receiver's memory, and how a version is read out of the block
// that holds it. Pure functions of 128 bytes, so they can be tested and fuzzed alone.
#pragma once

#include <cstdint>

#include "programmer/Job.h"

constexpr std::uint32_t BootInfoBase = 0x01000000;  // the bootloader's identification block
constexpr std::uint32_t FirmwareBase = 0x01010000;  // the system image (8-byte header first)
constexpr std::uint32_t FirmwareSpan = 0x32000;     // where the search for its end begins
constexpr const char* BootSignature = "Kuvreth";
constexpr const char* FirmwareSignature = DescriptionMarker;  // its description block

// The bootloader's version from the 128 bytes read at its signature: the text from byte 7 (31
// bytes at most, up to a zero byte) holds the number at characters 17 to 21 and the date at 22
// to 29, whose dots become slashes.
TVersionInfo BootVersionFrom(const std::uint8_t* block);
// The firmware's version from the 128 bytes read at its description block (the fields of
// DescriptionFieldsOf).
TVersionInfo FirmwareVersionFrom(const std::uint8_t* block);
