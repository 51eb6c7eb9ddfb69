#include "cli/Options.h"

#include "appdata/DMU.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct TCommandInfo {
  const char* name;
  TCommand command;
  const char* options;  // the options it takes, as "|--a|--b|"
};

const TCommandInfo kCommands[] = {
    {"probe", TCommand::Probe,
     "|--port|--baud|--protocol|--restart|--scan|--resident|--lang|--trace|"},
    {"versions", TCommand::Versions,
     "|--port|--reset|--baud|--protocol|--lang|--trace|--report|--check|--expect|"},
    {"program", TCommand::Program,
     "|--port|--reset|--baud|--protocol|--file|--lang|--trace|--verify|--backup|--report|--force|"
     "--expect-version|"},
    {"station", TCommand::Station,
     "|--reset|--baud|--protocol|--file|--lang|--trace|--verify|--backup|--report|--force|"
     "--expect-version|--fixture|--port|"},
    {"describe", TCommand::Describe, "|--lang|"},
    {"ports", TCommand::Ports, "||"},
    {"help", TCommand::Help, "||"},
    {"version", TCommand::Version, "||"},
};

}  // namespace

const char* UsageText() {
  return "usage:\n"
         "  zv8810-fwu probe    --port PORT [--baud N] [--protocol nmea|zorp] [--restart | --scan] "
         "[--lang en|ru]\n"
         "  zv8810-fwu probe    --port PORT --resident\n"
         "  zv8810-fwu versions --port PORT [--reset auto|manual] [--baud N] "
         "[--protocol nmea|zorp] [--lang en|ru]\n"
         "                      [--check] [--expect VERSION] [--report FILE.json]\n"
         "  zv8810-fwu program  --port PORT [--reset auto|manual] [--baud N] "
         "[--protocol nmea|zorp] --file FILE [--lang en|ru]\n"
         "                      [--verify] [--backup DIR] [--report FILE.json] [--force]\n"
         "                      [--expect-version VERSION]\n"
         "  zv8810-fwu station  --file FILE [--reset auto|manual] [--baud N] [--protocol "
         "nmea|zorp]\n"
         "                      [--verify] [--backup DIR] [--report FILE.jsonl] [--lang en|ru]\n"
         "                      [--force] [--expect-version VERSION] [--fixture --port PORT...]\n"
         "  zv8810-fwu describe FILE [--lang en|ru]\n"
         "  zv8810-fwu ports\n"
         "  zv8810-fwu --version\n"
         "\n"
         "PORT is a COM name (COM7) or a device path (/dev/ttyUSB0); versions and program take\n"
         "several --port options and run a job on each at once. --baud takes 4800, 9600, 19200,\n"
         "38400, 57600, 115200 or 230400. Defaults: --baud 115200, --protocol nmea, --reset auto,\n"
         "--lang en. --trace prints every byte in and out (hex, with times) on standard error.\n"
         "probe --scan tries the given protocol and bit rate, then the other protocol, then the\n"
         "other bit rates, until the receiver answers.\n"
         "probe --resident sends a resident left running on the receiver (a job stopped twice)\n"
         "its restart command.\n"
         "A system file is checked before anything is sent: one whose description block names\n"
         "another device is refused, one without a description block needs --force.\n"
         "versions --check reads the whole firmware back and compares it with its header;\n"
         "versions --expect V fails unless the receiver's firmware is version V.\n"
         "station --fixture: the --port ports stay plugged in and the receivers are swapped on\n"
         "them; each receiver that starts answering is programmed once.\n";
}

bool ParseOptions(int argc, char** argv, TCliOptions& options, std::string& error) {
  if (argc < 2) {
    error = "no command given";
    return false;
  }
  std::string name = Lower(argv[1]);
  if (name == "--help" || name == "-h") name = "help";
  if (name == "--version") name = "version";
  const TCommandInfo* info = nullptr;
  for (const TCommandInfo& c : kCommands)
    if (name == c.name) info = &c;
  if (info == nullptr) {
    error = "unknown command '" + std::string(argv[1]) + "'";
    return false;
  }
  options.Command = info->command;
  std::vector<std::string> positional;
  std::vector<std::string> seen;  // the single-value options given so far
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.Command = TCommand::Help;
      return true;
    }
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    std::string key = arg, value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); eq != std::string::npos) {
      key = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    if (std::string(info->options).find("|" + key + "|") == std::string::npos) {
      error = "option " + key + " is not known to '" + info->name + "'";
      return false;
    }
    bool isSwitch = key == "--restart" || key == "--trace" || key == "--scan" ||
                    key == "--verify" || key == "--force" || key == "--check" ||
                    key == "--fixture" || key == "--resident";
    if (isSwitch) {
      if (inlineValue) {
        error = "option " + key + " takes no value";
        return false;
      }
      (key == "--restart"    ? options.Restart
       : key == "--scan"     ? options.Scan
       : key == "--trace"    ? options.Trace
       : key == "--force"    ? options.Force
       : key == "--check"    ? options.Check
       : key == "--fixture"  ? options.Fixture
       : key == "--resident" ? options.Resident
                             : options.Verify) = true;
      continue;
    }
    // Only --port repeats: a second --file or --report would silently replace the first.
    if (key != "--port") {
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
        error = "option " + key + " is given twice: give it once";
        return false;
      }
      seen.push_back(key);
    }
    if (!inlineValue) {
      if (i + 1 >= argc) {
        error = "option " + key + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    std::string lower = Lower(value);
    if (key == "--port") {
      if (value.empty()) {
        error = "--port needs a COM name (COM7) or a device path";
        return false;
      }
      for (const std::string& given : options.Ports)
        if (given == value) {
          error = "--port " + value + " is given twice: each receiver needs its own port";
          return false;
        }
      if (options.Ports.empty()) options.Port = value;
      options.Ports.push_back(value);
    } else if (key == "--backup" || key == "--report") {
      if (value.empty()) {
        error = key + (key == "--backup" ? " needs a folder" : " needs a file name");
        return false;
      }
      (key == "--backup" ? options.BackupDir : options.Report) = value;
    } else if (key == "--baud") {
      // Only the rates the window offers: any other would be replaced by 115200 unseen.
      std::string list;
      for (std::int32_t rate : OfferedRates) {
        if (value == std::to_string(rate)) options.Baud = rate;
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
      }
      if (std::to_string(options.Baud) != value) {
        error = "--baud takes one of " + list;
        return false;
      }
    } else if (key == "--protocol") {
      if (lower != "nmea" && lower != "zorp") {
        error = "--protocol takes nmea or zorp";
        return false;
      }
      options.Protocol = lower == "nmea" ? "NMEA" : "ZORP";
    } else if (key == "--reset") {
      if (lower != "auto" && lower != "manual") {
        error = "--reset takes auto or manual";
        return false;
      }
      options.ResetAuto = lower == "auto";
    } else if (key == "--lang") {
      if (lower != "en" && lower != "ru") {
        error = "--lang takes en or ru";
        return false;
      }
      options.Russian = lower == "ru";
    } else if (key == "--file") {
      options.File = value;
    } else if (key == "--expect-version" || key == "--expect") {
      if (value.empty()) {
        error = key + " needs a version (3.09)";
        return false;
      }
      (key == "--expect" ? options.Expect : options.ExpectVersion) = value;
    }
  }
  if (options.Command == TCommand::Describe) {
    if (positional.size() != 1) {
      error = "describe needs exactly one system file";
      return false;
    }
    options.File = positional[0];
    return true;
  }
  if (!positional.empty()) {
    error = "unexpected argument '" + positional[0] + "'";
    return false;
  }
  bool needsPort = options.Command == TCommand::Probe || options.Command == TCommand::Versions ||
                   options.Command == TCommand::Program;
  if (options.Command == TCommand::Probe && options.Ports.size() > 1) {
    error = "probe takes one --port";
    return false;
  }
  if (options.Command == TCommand::Station && options.Fixture != !options.Ports.empty()) {
    error = options.Fixture
                ? "station --fixture needs the fixture's ports: --port P [--port P2 ...]"
                : "station takes --port only with --fixture (ports that stay plugged in)";
    return false;
  }
  if (options.Fixture && !options.ResetAuto) {
    error =
        "station --fixture polls the receivers in their working protocol: it needs --reset auto";
    return false;
  }
  if (needsPort && options.Port.empty()) {
    error = std::string(info->name) + " needs --port COMn or --port /dev/...";
    return false;
  }
  if (options.Scan && options.Restart) {
    error = "probe takes --restart or --scan, not both";
    return false;
  }
  if (options.Resident && (options.Scan || options.Restart)) {
    error = "probe takes --resident alone (without --restart or --scan)";
    return false;
  }
  if ((options.Command == TCommand::Program || options.Command == TCommand::Station) &&
      options.File.empty()) {
    error = std::string(info->name) + " needs --file FILE (the system file to write)";
    return false;
  }
  return true;
}
