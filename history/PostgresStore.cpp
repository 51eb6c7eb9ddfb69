// The plant's history on a PostgreSQL server: every station writes into one database. The
// schema is the local file's; the first program to reach a new database creates it, under a lock
// that makes every other station wait for it instead of creating it a second time.
#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "history/HistoryStore.h"
#include "history/Schema.h"

namespace hist {

namespace {

// A fixed key for the advisory lock that the schema's migration holds.
constexpr const char* MigrationLock = "SELECT pg_advisory_xact_lock(88100023)";
// How long a station waits for a server before it keeps the record locally.
constexpr const char* ConnectTimeoutSeconds = "5";

void Quiet(void*, const char*) {}  // the server's notices ("already exists, skipping")

class TResult {
 public:
  explicit TResult(PGresult* result) : result_(result) {}
  ~TResult() { PQclear(result_); }
  TResult(const TResult&) = delete;
  TResult& operator=(const TResult&) = delete;
  PGresult* get() const { return result_; }
  bool Ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }

 private:
  PGresult* result_;
};

class TPostgresStore : public THistoryStore {
 public:
  explicit TPostgresStore(std::string address) : address_(std::move(address)) {}
  ~TPostgresStore() override {
    if (conn_ != nullptr) PQfinish(conn_);
  }

  bool Open(std::string& error) {
    // The address's own settings win over the defaults given before it.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {ConnectTimeoutSeconds, "zv8810-fwu", address_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
      error = Failure("cannot be reached");
      return false;
    }
    PQsetNoticeProcessor(conn_, Quiet, nullptr);
    return Migrate(error);
  }

  bool Add(const TJobRecord& record, std::string& error) override {
    return AddAll({record}, error);
  }

  bool AddAll(const std::vector<TJobRecord>& records, std::string& error) override {
    const std::string insert = InsertStatement(TDialect::Postgres);
    return Transaction(
        [&] {
          for (TJobRecord record : records) {
            record.PendingServer.clear();  // it is where it belongs now
            std::vector<TValue> values;
            for (const TColumn& column : Columns()) values.push_back(column.Get(record));
            if (!Run(insert, values)) return false;
          }
          return true;
        },
        error);
  }

  bool Remove(const std::vector<std::string>& recordIds, std::string& error) override {
    return Transaction(
        [&] {
          for (const std::string& id : recordIds)
            if (!Run("DELETE FROM jobs WHERE record_id = $1", {id})) return false;
          return true;
        },
        error);
  }

  bool Query(const TFilter& filter, std::vector<TJobRecord>& records, std::string& error) override {
    std::vector<TValue> params;
    const std::string select = SelectStatement(TDialect::Postgres, filter, params);
    TResult result(Exec(select, params));
    if (!result.Ok()) {
      error = Failure("refused the query");
      return false;
    }
    records.clear();
    const int rows = PQntuples(result.get());
    for (int row = 0; row < rows; ++row) {
      TJobRecord record;
      int index = 0;
      for (const TColumn& column : Columns()) {
        column.Set(record, Value(result.get(), row, index, column.Type));
        ++index;
      }
      records.push_back(std::move(record));
    }
    return true;
  }

  std::string Where() const override { return ShownAddress(address_); }

 private:
  std::string Failure(const std::string& what) const {
    std::string reason = conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    // libpq's message runs over several lines, the later ones indented by a tab.
    std::string flat;
    for (char c : reason) {
      if (c == '\n' || c == '\t') c = ' ';
      if (c == ' ' && !flat.empty() && flat.back() == ' ') continue;
      flat.push_back(c);
    }
    reason = flat;
    return "the history server " + Where() + " " + what + (reason.empty() ? "" : ": " + reason);
  }

  PGresult* Exec(const std::string& sql, const std::vector<TValue>& params) {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> pointers(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (auto* n = std::get_if<std::int64_t>(&params[i])) {
        texts[i] = std::to_string(*n);
      } else if (auto* d = std::get_if<double>(&params[i])) {
        char text[64];
        const auto end = std::to_chars(text, text + sizeof text, *d).ptr;
        texts[i].assign(text, end);
      } else if (auto* s = std::get_if<std::string>(&params[i])) {
        texts[i] = ValidUtf8(*s);  // the server takes no other text
      } else {
        continue;  // NULL
      }
      pointers[i] = texts[i].c_str();
    }
    return PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                        pointers.data(), nullptr, nullptr, 0);
  }

  bool Run(const std::string& sql, const std::vector<TValue>& params = {}) {
    TResult result(Exec(sql, params));
    return result.Ok();
  }

  template <typename TBody>
  bool Transaction(TBody body, std::string& error) {
    if (!Run("BEGIN")) {
      error = Failure("refused the transaction");
      return false;
    }
    if (body() && Run("COMMIT")) return true;
    error = Failure("refused the records");
    Run("ROLLBACK");
    return false;
  }

  bool Migrate(std::string& error) {
    int found = 0;
    const bool ok = Transaction(
        [&] {
          if (!Run(MigrationLock)) return false;
          if (!Run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"))
            return false;
          TResult result(Exec("SELECT version FROM schema_version", {}));
          if (!result.Ok()) return false;
          const bool hasRow = PQntuples(result.get()) > 0;
          if (hasRow) found = std::atoi(PQgetvalue(result.get(), 0, 0));
          if (found >= SchemaVersion) return true;
          for (int from = found; from < SchemaVersion; ++from)
            for (const std::string& sql : MigrationStep(TDialect::Postgres, from))
              if (!Run(sql)) return false;
          return Run(hasRow ? "UPDATE schema_version SET version = " + std::to_string(SchemaVersion)
                            : "INSERT INTO schema_version (version) VALUES (" +
                                  std::to_string(SchemaVersion) + ")");
        },
        error);
    if (ok && found > SchemaVersion) {
      error = "the history on " + Where() + " was written by a newer zv8810-fwu (schema version " +
              std::to_string(found) + "; this program knows up to " +
              std::to_string(SchemaVersion) + "): use the newer program";
      return false;
    }
    return ok;
  }

  static TValue Value(PGresult* result, int row, int column, TColumnType type) {
    if (PQgetisnull(result, row, column)) return std::monostate{};
    const char* text = PQgetvalue(result, row, column);
    switch (type) {
      case TColumnType::Integer:
        return static_cast<std::int64_t>(std::strtoll(text, nullptr, 10));
      case TColumnType::Real: {
        double value = 0;  // whatever the program's locale says about decimal commas
        std::from_chars(text, text + std::strlen(text), value);
        return value;
      }
      default:
        return std::string(text, static_cast<std::size_t>(PQgetlength(result, row, column)));
    }
  }

  std::string address_;
  PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<THistoryStore> OpenPostgres(const std::string& address, std::string& error) {
  auto store = std::make_unique<TPostgresStore>(address);
  if (!store->Open(error)) return nullptr;
  return store;
}

}  // namespace hist
