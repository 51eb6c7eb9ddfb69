// zv8810-mkfw: writes a sample system file with a description block, for the demo and tests.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "device/FlashContents.h"

int main(int argc, char** argv) {
  sim::TFirmwareSpec spec;
  std::string out;
  bool block = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--size") {
      spec.Size = static_cast<std::uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--version") {
      std::string v = value();
      std::size_t dot = v.find('.');
      spec.Major = v.substr(0, dot);
      spec.Minor = dot == std::string::npos ? "" : v.substr(dot + 1);
    } else if (arg == "--date") {
      spec.Date = value();
    } else if (arg == "--time") {
      spec.Time = value();
    } else if (arg == "--comment") {
      spec.Comment = value();
    } else if (arg == "--seed") {
      spec.Seed = static_cast<std::uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--block-offset") {
      spec.BlockOffset = static_cast<std::uint32_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--no-block") {
      block = false;
    } else if (arg[0] != '-' && out.empty()) {
      out = arg;
    } else {
      std::fprintf(stderr,
                   "usage: zv8810-mkfw OUT.bin [--size N] [--version 3.07] [--date 'Nov 26 2009']\n"
                   "                   [--time 14:02:33] [--comment TEXT] [--seed N]\n"
                   "                   [--block-offset N] [--no-block]\n");
      return 64;
    }
  }
  if (out.empty()) {
    std::fprintf(stderr, "zv8810-mkfw: name the file to write\n");
    return 64;
  }
  if (!block) spec.BlockOffset = spec.Size;  // no room: no block
  std::vector<std::uint8_t> file = sim::MakeSystemFile(spec);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!o) {
    std::fprintf(stderr, "zv8810-mkfw: cannot write %s\n", out.c_str());
    return 73;
  }
  return 0;
}
