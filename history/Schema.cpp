#include "history/Schema.h"

#include <cstdio>
#include <random>

namespace hist {

namespace {

TColumn TextColumn(const char* name, std::string TJobRecord::*member) {
  return {name, TColumnType::Text,
          [member](const TJobRecord& r) -> TValue {
            if ((r.*member).empty()) return std::monostate{};
            return r.*member;
          },
          [member](TJobRecord& r, const TValue& v) {
            if (auto* s = std::get_if<std::string>(&v)) r.*member = *s;
          }};
}

TColumn IntegerColumn(const char* name, std::int64_t TJobRecord::*member) {
  return {name, TColumnType::Integer, [member](const TJobRecord& r) -> TValue { return r.*member; },
          [member](TJobRecord& r, const TValue& v) {
            if (auto* i = std::get_if<std::int64_t>(&v)) r.*member = *i;
          }};
}

TColumn OptionalIntegerColumn(const char* name, std::optional<std::int64_t> TJobRecord::*member) {
  return {name, TColumnType::Integer,
          [member](const TJobRecord& r) -> TValue {
            if (!(r.*member)) return std::monostate{};
            return *(r.*member);
          },
          [member](TJobRecord& r, const TValue& v) {
            if (auto* i = std::get_if<std::int64_t>(&v))
              r.*member = *i;
            else
              r.*member = std::nullopt;
          }};
}

TColumn BoolColumn(const char* name, bool TJobRecord::*member) {
  return {name, TColumnType::Integer,
          [member](const TJobRecord& r) -> TValue { return std::int64_t{r.*member ? 1 : 0}; },
          [member](TJobRecord& r, const TValue& v) {
            auto* i = std::get_if<std::int64_t>(&v);
            r.*member = i != nullptr && *i != 0;
          }};
}

std::vector<TColumn> MakeColumns() {
  using R = TJobRecord;
  std::vector<TColumn> c;
  c.push_back(TextColumn("record_id", &R::RecordId));
  c.push_back(TextColumn("started", &R::Started));
  c.push_back(IntegerColumn("started_utc", &R::StartedUtc));
  c.push_back(TextColumn("finished", &R::Finished));
  c.push_back({"seconds", TColumnType::Real, [](const R& r) -> TValue { return r.Seconds; },
               [](R& r, const TValue& v) {
                 if (auto* d = std::get_if<double>(&v)) r.Seconds = *d;
                 if (auto* i = std::get_if<std::int64_t>(&v)) r.Seconds = static_cast<double>(*i);
               }});
  c.push_back(TextColumn("station", &R::Station));
  c.push_back(TextColumn("user_name", &R::User));
  c.push_back(TextColumn("program_version", &R::ProgramVersion));
  c.push_back(TextColumn("command", &R::Command));
  c.push_back(TextColumn("port", &R::Port));
  c.push_back(TextColumn("port_device", &R::PortDevice));
  c.push_back(TextColumn("port_usb", &R::PortUsb));
  c.push_back(TextColumn("protocol", &R::Protocol));
  c.push_back(IntegerColumn("rate", &R::Rate));
  c.push_back(TextColumn("reset", &R::Reset));
  c.push_back(TextColumn("file_path", &R::FilePath));
  c.push_back(OptionalIntegerColumn("file_size", &R::FileSize));
  c.push_back(TextColumn("file_sum", &R::FileSum));
  c.push_back(TextColumn("file_version", &R::FileVersion));
  c.push_back(TextColumn("file_device", &R::FileDevice));
  c.push_back(TextColumn("receiver_number", &R::ReceiverNumber));
  c.push_back(TextColumn("receiver_module_id", &R::ReceiverModuleId));
  c.push_back(TextColumn("receiver_production_date", &R::ReceiverProductionDate));
  c.push_back(TextColumn("receiver_device_id", &R::ReceiverDeviceId));
  c.push_back(TextColumn("bootloader_version", &R::BootloaderVersion));
  c.push_back(TextColumn("firmware_before", &R::FirmwareBefore));
  c.push_back(TextColumn("firmware_after", &R::FirmwareAfter));
  c.push_back(BoolColumn("ok", &R::Ok));
  c.push_back(IntegerColumn("exit_status", &R::ExitStatus));
  c.push_back(OptionalIntegerColumn("result_code", &R::ResultCode));
  c.push_back(BoolColumn("stopped", &R::Stopped));
  c.push_back(TextColumn("message", &R::Message));
  c.push_back({"verified", TColumnType::Integer,
               [](const R& r) -> TValue {
                 if (!r.Verified) return std::monostate{};
                 return std::int64_t{*r.Verified ? 1 : 0};
               },
               [](R& r, const TValue& v) {
                 if (auto* i = std::get_if<std::int64_t>(&v))
                   r.Verified = *i != 0;
                 else
                   r.Verified = std::nullopt;
               }});
  c.push_back(TextColumn("backup_path", &R::BackupPath));
  c.push_back(BoolColumn("forced", &R::Forced));
  // The log's lines, one per line of the text (a log line never holds a line break).
  c.push_back({"log", TColumnType::Text,
               [](const R& r) -> TValue {
                 std::string text;
                 for (std::size_t i = 0; i < r.Log.size(); ++i) {
                   if (i > 0) text += '\n';
                   text += r.Log[i];
                 }
                 return text;
               },
               [](R& r, const TValue& v) {
                 r.Log.clear();
                 auto* s = std::get_if<std::string>(&v);
                 if (s == nullptr || s->empty()) return;
                 std::size_t from = 0;
                 for (;;) {
                   const std::size_t end = s->find('\n', from);
                   r.Log.push_back(s->substr(from, end - from));
                   if (end == std::string::npos) break;
                   from = end + 1;
                 }
               }});
  c.push_back(TextColumn("pending_server", &R::PendingServer));
  return c;
}

const char* TypeName(TDialect dialect, TColumnType type) {
  switch (type) {
    case TColumnType::Integer:
      return "BIGINT";
    case TColumnType::Real:
      return dialect == TDialect::Postgres ? "DOUBLE PRECISION" : "REAL";
    default:
      return "TEXT";
  }
}

std::string Parameter(TDialect dialect, std::size_t number) {
  return dialect == TDialect::Postgres ? "$" + std::to_string(number) : std::string("?");
}

}  // namespace

const std::vector<TColumn>& Columns() {
  static const std::vector<TColumn> columns = MakeColumns();
  return columns;
}

std::vector<std::string> MigrationStep(TDialect dialect, int from) {
  std::vector<std::string> statements;
  if (from == 0) {
    std::string create = "CREATE TABLE IF NOT EXISTS jobs (id ";
    create += dialect == TDialect::Postgres ? "BIGSERIAL PRIMARY KEY"
                                            : "INTEGER PRIMARY KEY AUTOINCREMENT";
    for (const TColumn& column : Columns()) {
      create += std::string(", ") + column.Name + " " + TypeName(dialect, column.Type);
      if (std::string(column.Name) == "record_id") create += " NOT NULL UNIQUE";
    }
    create += ")";
    statements.push_back(create);
    statements.push_back(
        "CREATE INDEX IF NOT EXISTS jobs_started ON jobs (started_utc DESC, id DESC)");
    statements.push_back("CREATE INDEX IF NOT EXISTS jobs_receiver ON jobs (receiver_number)");
    statements.push_back("CREATE INDEX IF NOT EXISTS jobs_file_sum ON jobs (file_sum)");
    statements.push_back("CREATE INDEX IF NOT EXISTS jobs_station ON jobs (station)");
  }
  return statements;
}

std::string InsertStatement(TDialect dialect) {
  std::string names, values;
  std::size_t number = 0;
  for (const TColumn& column : Columns()) {
    if (number > 0) {
      names += ", ";
      values += ", ";
    }
    names += column.Name;
    values += Parameter(dialect, ++number);
  }
  std::string statement = "INSERT INTO jobs (" + names + ") VALUES (" + values + ")";
  // A record a sync already moved once stays stored once.
  statement += " ON CONFLICT (record_id) DO NOTHING";
  return statement;
}

std::string SelectStatement(TDialect dialect, const TFilter& filter, std::vector<TValue>& params) {
  std::string statement = "SELECT ";
  bool first = true;
  for (const TColumn& column : Columns()) {
    if (!first) statement += ", ";
    statement += column.Name;
    first = false;
  }
  statement += " FROM jobs";
  std::vector<std::string> conditions;
  auto add = [&](const std::string& condition, TValue value) {
    params.push_back(std::move(value));
    conditions.push_back(condition + Parameter(dialect, params.size()));
  };
  if (!filter.Receiver.empty()) add("receiver_number = ", filter.Receiver);
  if (!filter.FileSum.empty()) add("file_sum = ", filter.FileSum);
  if (!filter.Station.empty()) add("station = ", filter.Station);
  if (filter.SinceUtc) add("started_utc >= ", *filter.SinceUtc);
  if (filter.FailedOnly) conditions.push_back("ok = 0");
  if (filter.PendingOnly) conditions.push_back("pending_server IS NOT NULL");
  for (std::size_t i = 0; i < conditions.size(); ++i)
    statement += (i == 0 ? " WHERE " : " AND ") + conditions[i];
  statement += " ORDER BY started_utc DESC, id DESC";
  if (filter.Limit > 0) statement += " LIMIT " + std::to_string(filter.Limit);
  return statement;
}

std::string ValidUtf8(const std::string& text) {
  static const char replacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char lead = bytes[i];
    std::size_t length = 0;
    std::uint32_t low = 0;
    if (lead >= 0x01 && lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2, low = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3, low = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4, low = 0x10000;
    bool valid = length > 0 && i + length <= size;
    std::uint32_t code = valid ? lead & (0x7F >> length) : 0;
    for (std::size_t k = 1; valid && k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    if (valid && (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
      valid = false;
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      out += replacement;
      ++i;
    }
  }
  return out;
}

std::string NewRecordId() {
  // Drawn from the system's source each time: a generator's state would be copied into every
  // child a process forks.
  std::random_device device;
  char text[33];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", device(), device(), device(), device());
  return text;
}

}  // namespace hist
