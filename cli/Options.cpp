#include "cli/Options.h"

#include "appdata/DMU.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
     "|--port|--reset|--baud|--protocol|--lang|--trace|--report|--check|--expect|--history|"
     "--no-history|"},
    {"program", TCommand::Program,
     "|--port|--reset|--baud|--protocol|--file|--lang|--trace|--verify|--backup|--report|--force|"
     "--expect-version|--history|--no-history|"},
    {"station", TCommand::Station,
     "|--reset|--baud|--protocol|--file|--lang|--trace|--verify|--backup|--report|--force|"
     "--expect-version|--fixture|--port|--history|--no-history|"},
    {"history", TCommand::History,
     "|--history|--receiver|--file-sum|--since|--failed|--station|--limit|--json|--csv|--sync|"},
    {"describe", TCommand::Describe, "|--lang|"},
    {"ports", TCommand::Ports, "||"},
    {"help", TCommand::Help, "||"},
    {"version", TCommand::Version, "||"},
};

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

bool ParseSince(const std::string& text, long long now, long long& utc) {
  // A time back from now: "36h", "7d".
  if (text.size() >= 2 && (text.back() == 'h' || text.back() == 'd')) {
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6)
      return false;
    utc = now - std::atoll(digits.c_str()) * (text.back() == 'h' ? 3600 : 86400);
    return true;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10)
    return false;
  std::string rest = text.substr(10);
  if (!rest.empty()) {
    if (rest[0] != 'T' && rest[0] != ' ') return false;
    int at = 0;
    if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &hour, &minute, &at) != 2 || at != 5)
      return false;
    rest = rest.substr(6);
    if (rest.size() >= 3 && rest[0] == ':') {
      if (std::sscanf(rest.c_str() + 1, "%2d%n", &second, &at) != 1 || at != 2) return false;
      rest = rest.substr(3);
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  if (rest.empty()) {  // local time
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) return false;
    utc = static_cast<long long>(when);
    return true;
  }
  long long offset = 0;
  if (rest == "Z") {
    offset = 0;
  } else {
    int hours = 0, minutes = 0, at = 0;
    if ((rest[0] != '+' && rest[0] != '-') ||
        std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &hours, &minutes, &at) != 2 || at != 5 ||
        rest.size() != 6 || hours > 23 || minutes > 59)
      return false;
    offset = (hours * 60LL + minutes) * 60 * (rest[0] == '-' ? -1 : 1);
  }
  utc = ((DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60 + second - offset;
  return true;
}

bool ParseFileSum(const std::string& text, std::string& sum) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (digits.empty() || digits.size() > 8 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  char text8[16];
  std::snprintf(text8, sizeof text8, "0x%08lX", std::strtoul(digits.c_str(), nullptr, 16));
  sum = text8;
  return true;
}

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
         "  zv8810-fwu history   [--receiver ID] [--file-sum SUM] [--since DATE] [--failed]\n"
         "                       [--station HOST] [--limit N] [--json | --csv] [--history WHERE]\n"
         "  zv8810-fwu history   --sync [--history postgresql://...]\n"
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
         "them; each receiver that starts answering is programmed once.\n"
         "versions, program and station keep a record of each job in the history (a local file,\n"
         "or the server that --history postgresql://... or ZV8810_HISTORY names); --no-history\n"
         "leaves none.\n";
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
    bool* flag = key == "--restart"      ? &options.Restart
                 : key == "--scan"       ? &options.Scan
                 : key == "--trace"      ? &options.Trace
                 : key == "--verify"     ? &options.Verify
                 : key == "--force"      ? &options.Force
                 : key == "--check"      ? &options.Check
                 : key == "--fixture"    ? &options.Fixture
                 : key == "--resident"   ? &options.Resident
                 : key == "--no-history" ? &options.NoHistory
                 : key == "--failed"     ? &options.Failed
                 : key == "--json"       ? &options.Json
                 : key == "--csv"        ? &options.Csv
                 : key == "--sync"       ? &options.Sync
                                         : nullptr;
    if (flag != nullptr) {
      if (inlineValue) {
        error = "option " + key + " takes no value";
        return false;
      }
      *flag = true;
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
    } else if (key == "--history" || key == "--receiver" || key == "--station") {
      if (value.empty()) {
        error = key + (key == "--history"    ? " needs a postgresql:// address or a file"
                       : key == "--receiver" ? " needs the receiver's module number"
                                             : " needs the station's host name");
        return false;
      }
      (key == "--history"    ? options.History
       : key == "--receiver" ? options.Receiver
                             : options.StationName) = value;
    } else if (key == "--file-sum") {
      if (!ParseFileSum(value, options.FileSum)) {
        error = "--file-sum takes the file's sum as the reports show it (0x002E78D7)";
        return false;
      }
    } else if (key == "--since") {
      if (!ParseSince(value, static_cast<long long>(std::time(nullptr)), options.SinceUtc)) {
        error =
            "--since takes a date (2026-12-10), a time (2026-12-10T15:50, local unless it "
            "ends in Z or an offset) or a time back from now (36h, 7d)";
        return false;
      }
      options.HasSince = true;
    } else if (key == "--limit") {
      char* end = nullptr;
      const long long limit = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != 0 || limit <= 0) {
        error = "--limit takes a number of records (1 or more)";
        return false;
      }
      options.Limit = limit;
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
  if (options.NoHistory && !options.History.empty()) {
    error = "--history and --no-history exclude each other";
    return false;
  }
  if (options.Json && options.Csv) {
    error = "history takes --json or --csv, not both";
    return false;
  }
  if (options.Sync &&
      (options.Json || options.Csv || options.Failed || options.HasSince || options.Limit > 0 ||
       !options.Receiver.empty() || !options.FileSum.empty() || !options.StationName.empty())) {
    error = "history --sync takes only --history (it moves every record kept locally)";
    return false;
  }
  if ((options.Command == TCommand::Program || options.Command == TCommand::Station) &&
      options.File.empty()) {
    error = std::string(info->name) + " needs --file FILE (the system file to write)";
    return false;
  }
  return true;
}
