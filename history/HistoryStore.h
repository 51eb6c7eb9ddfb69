// The history store: one small interface over the engines that keep the records (a local SQLite
// file; a PostgreSQL server that every station of a plant writes into), the place of the local
// file, and the rule that no record is lost when the server cannot be reached.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"

namespace hist {

class THistoryStore {
 public:
  virtual ~THistoryStore() = default;
  // Stores the record in one transaction; false with the reason.
  virtual bool Add(const TJobRecord& record, std::string& error) = 0;
  // The records the filter lets through, newest first.
  virtual bool Query(const TFilter& filter, std::vector<TJobRecord>& records,
                     std::string& error) = 0;
  // Removes the records with these ids (those a sync moved to their server), in one transaction.
  virtual bool Remove(const std::vector<std::string>& recordIds, std::string& error) = 0;
  // Stores every record in one transaction (a sync); records stored already are left alone.
  virtual bool AddAll(const std::vector<TJobRecord>& records, std::string& error) = 0;
  // Where the records are, for messages: the file, or the server without its password.
  virtual std::string Where() const = 0;
};

// The local file: created with its folder when missing, brought to the current schema.
std::unique_ptr<THistoryStore> OpenSqlite(const std::string& path, std::string& error);
// A server named by a "postgresql://" (or "postgres://") address or a libpq connection string.
std::unique_ptr<THistoryStore> OpenPostgres(const std::string& address, std::string& error);

// Whether the text names a PostgreSQL server rather than a file.
bool IsServerAddress(const std::string& target);
// The address without its password, fit for messages and for the records' mark.
std::string ShownAddress(const std::string& address);

// The local file: $XDG_DATA_HOME/zv8810-fwu/history.sqlite (~/.local/share without it).
std::string DefaultHistoryPath();

// Where the records go: the --history option, else ZV8810_HISTORY, else the local file. A server
// address, or a file path.
struct THistoryTarget {
  std::string Server;     // empty: no server
  std::string LocalPath;  // the local file (the fallback when there is a server)
};
THistoryTarget ResolveTarget(const std::string& option);

// Stores one job's record where the target says. A server that cannot be reached does not lose
// it: it goes into the local file, marked for the server, and `note` says so (serverDown: the
// caller knows the server is away and does not wait for it again). False only when the record
// could be stored nowhere (error says why).
bool RecordJob(const THistoryTarget& target, TJobRecord record, std::string& note,
               std::string& error, bool serverDown = false);

// Moves the records kept locally for the target's server to it: they are stored there in one
// transaction, then removed from the local file. moved: how many.
bool SyncPending(const THistoryTarget& target, std::int64_t& moved, std::string& error);

// The station's name in records: ZV8810_STATION, else the host name.
std::string StationName();
// The user the program runs as.
std::string UserName();

}  // namespace hist
