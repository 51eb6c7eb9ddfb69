// The local history file (SQLite). Several processes write into one file at once (a station's
// jobs, a second station on the same computer, `history` reading): the file is in WAL mode, so
// readers never wait for a writer; every write is one transaction that takes the write lock at
// its start (BEGIN IMMEDIATE), so two writers never deadlock on upgrading their locks; and a
// writer that finds the file locked waits for it (busy time-out), then tries again until a
// deadline, instead of failing with "database is locked".
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "history/HistoryStore.h"
#include "history/Schema.h"

namespace hist {

namespace {

constexpr int BusyTimeoutMs = 5000;                        // one wait of the engine for the lock
constexpr auto RetryDeadline = std::chrono::seconds(120);  // all the waits of one write

bool Busy(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

class TSqliteStore : public THistoryStore {
 public:
  explicit TSqliteStore(std::string path) : path_(std::move(path)) {}
  ~TSqliteStore() override {
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }

  bool Open(std::string& error) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(path_).parent_path();
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);
    const int code =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
      error = path_ + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
      return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, BusyTimeoutMs);
    // WAL: readers and one writer at once; FULL: a record that was reported stored survives a
    // power cut.
    if (!Retry([&] { return Exec("PRAGMA journal_mode=WAL"); }, error) ||
        !Retry([&] { return Exec("PRAGMA synchronous=FULL"); }, error))
      return false;
    return Migrate(error);
  }

  bool Add(const TJobRecord& record, std::string& error) override {
    return AddAll({record}, error);
  }

  bool AddAll(const std::vector<TJobRecord>& records, std::string& error) override {
    const std::string insert = InsertStatement(TDialect::Sqlite);
    return Transaction(
        [&] {
          for (const TJobRecord& record : records) {
            sqlite3_stmt* statement = nullptr;
            int code = sqlite3_prepare_v2(db_, insert.c_str(), -1, &statement, nullptr);
            if (code != SQLITE_OK) return code;
            int index = 0;
            for (const TColumn& column : Columns()) Bind(statement, ++index, column.Get(record));
            code = sqlite3_step(statement);
            sqlite3_finalize(statement);
            if (code != SQLITE_DONE) return code;
          }
          return SQLITE_OK;
        },
        error);
  }

  bool Remove(const std::vector<std::string>& recordIds, std::string& error) override {
    return Transaction(
        [&] {
          for (const std::string& id : recordIds) {
            sqlite3_stmt* statement = nullptr;
            int code = sqlite3_prepare_v2(db_, "DELETE FROM jobs WHERE record_id = ?", -1,
                                          &statement, nullptr);
            if (code != SQLITE_OK) return code;
            sqlite3_bind_text(statement, 1, id.c_str(), static_cast<int>(id.size()),
                              SQLITE_TRANSIENT);
            code = sqlite3_step(statement);
            sqlite3_finalize(statement);
            if (code != SQLITE_DONE) return code;
          }
          return SQLITE_OK;
        },
        error);
  }

  bool Query(const TFilter& filter, std::vector<TJobRecord>& records, std::string& error) override {
    std::vector<TValue> params;
    const std::string select = SelectStatement(TDialect::Sqlite, filter, params);
    return Retry(
        [&] {
          records.clear();
          sqlite3_stmt* statement = nullptr;
          int code = sqlite3_prepare_v2(db_, select.c_str(), -1, &statement, nullptr);
          if (code != SQLITE_OK) return code;
          for (std::size_t i = 0; i < params.size(); ++i)
            Bind(statement, static_cast<int>(i + 1), params[i]);
          while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
            TJobRecord record;
            int index = 0;
            for (const TColumn& column : Columns()) column.Set(record, Read(statement, index++));
            records.push_back(std::move(record));
          }
          sqlite3_finalize(statement);
          return code == SQLITE_DONE ? SQLITE_OK : code;
        },
        error);
  }

  std::string Where() const override { return path_; }

 private:
  // Runs the step again while the file is locked by another process, up to the deadline.
  template <typename TStep>
  bool Retry(TStep step, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + RetryDeadline;
    for (int attempt = 0;; ++attempt) {
      const int code = step();
      if (code == SQLITE_OK) return true;
      if (!Busy(code) || std::chrono::steady_clock::now() >= deadline) {
        error = path_ + ": " + sqlite3_errstr(code);
        if (db_ != nullptr && sqlite3_errcode(db_) == code)
          error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + (attempt % 20) * 5));
    }
  }

  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

  // The body in one write transaction, begun, committed or rolled back as a whole, and run again
  // when the file was locked.
  template <typename TBody>
  bool Transaction(TBody body, std::string& error) {
    return Retry(
        [&] {
          int code = Exec("BEGIN IMMEDIATE");
          if (code != SQLITE_OK) return code;
          code = body();
          if (code == SQLITE_OK) code = Exec("COMMIT");
          if (code != SQLITE_OK && !sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
          return code;
        },
        error);
  }

  // Creates the tables, or brings an older file to the current schema, in one transaction; a
  // process that comes second finds the work done.
  bool Migrate(std::string& error) {
    int found = 0;
    bool ok = Transaction(
        [&] {
          int code = Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
          if (code != SQLITE_OK) return code;
          found = 0;
          bool hasRow = false;
          sqlite3_stmt* statement = nullptr;
          code = sqlite3_prepare_v2(db_, "SELECT version FROM schema_version", -1, &statement,
                                    nullptr);
          if (code != SQLITE_OK) return code;
          while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
            found = sqlite3_column_int(statement, 0);
            hasRow = true;
          }
          sqlite3_finalize(statement);
          if (code != SQLITE_DONE) return code;
          if (found > SchemaVersion) return SQLITE_OK;  // refused below, nothing changed
          for (int from = found; from < SchemaVersion; ++from)
            for (const std::string& sql : MigrationStep(TDialect::Sqlite, from))
              if ((code = Exec(sql.c_str())) != SQLITE_OK) return code;
          const std::string set = (hasRow ? "UPDATE schema_version SET version = "
                                          : "INSERT INTO schema_version (version) VALUES (") +
                                  std::to_string(SchemaVersion) + (hasRow ? "" : ")");
          return Exec(set.c_str());
        },
        error);
    if (ok && found > SchemaVersion) {
      error = path_ + ": the history was written by a newer zv8810-fwu (schema version " +
              std::to_string(found) + "; this program knows up to " +
              std::to_string(SchemaVersion) + "): use the newer program";
      return false;
    }
    return ok;
  }

  static void Bind(sqlite3_stmt* statement, int index, const TValue& value) {
    if (auto* i = std::get_if<std::int64_t>(&value))
      sqlite3_bind_int64(statement, index, *i);
    else if (auto* d = std::get_if<double>(&value))
      sqlite3_bind_double(statement, index, *d);
    else if (auto* s = std::get_if<std::string>(&value))
      sqlite3_bind_text(statement, index, s->c_str(), static_cast<int>(s->size()),
                        SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(statement, index);
  }

  static TValue Read(sqlite3_stmt* statement, int index) {
    switch (sqlite3_column_type(statement, index)) {
      case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_column_int64(statement, index));
      case SQLITE_FLOAT:
        return sqlite3_column_double(statement, index);
      case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
      }
      default:
        return std::monostate{};
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<THistoryStore> OpenSqlite(const std::string& path, std::string& error) {
  auto store = std::make_unique<TSqliteStore>(path);
  if (!store->Open(error)) return nullptr;
  return store;
}

}  // namespace hist
