// The history of jobs with the real engines: the same table of cases against a SQLite file and a
// PostgreSQL server that this test starts itself (initdb into a temporary folder, a Unix socket
// there, no TCP port); several processes writing into one file at once; the command line's
// records and its `history` command; a server that cannot be reached, and one that goes away in
// the middle of a station run: records kept locally, then synced.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/Options.h"
#include "device/FlashContents.h"
#include "history/HistoryStore.h"
#include "history/Schema.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A throw-away PostgreSQL server from Debian's postgresql package. PostgreSQL refuses to run as
// root: then the server runs as the package's own user (or nobody), in a folder given to it.
class TPostgresServer {
 public:
  ~TPostgresServer() {
    Stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  // The first start makes the cluster; later starts reuse it (the records stay).
  ::testing::AssertionResult Start() {
    if (dir_.empty()) {
      if (auto made = Make(); !made) return made;
    }
    pid_ = Spawn({bin_ + "/postgres",
                  "-D",
                  dir_ + "/data",
                  "-k",
                  dir_,
                  "-p",
                  Port,
                  "-c",
                  "listen_addresses=",
                  "-c",
                  "fsync=off",
                  "-c",
                  "full_page_writes=off",
                  "-c",
                  "synchronous_commit=off",
                  "-c",
                  "max_connections=40",
                  "-c",
                  "shared_buffers=16MB",
                  "-c",
                  "dynamic_shared_memory_type=mmap"},
                 dir_ + "/server.log");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (PQping(Conninfo("postgres").c_str()) == PQPING_OK) return ::testing::AssertionSuccess();
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return ::testing::AssertionFailure() << "postgres ended:\n"
                                             << ReadText(dir_ + "/server.log");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ::testing::AssertionFailure() << "postgres did not answer:\n"
                                         << ReadText(dir_ + "/server.log");
  }

  // A fast shutdown: the clients are cut off, the socket goes away.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (kill(pid_, 0) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  std::string Address(const std::string& database = "postgres") const {
    return "postgresql:///" + database + "?host=" + dir_ + "&port=" + Port + "&user=zv8810";
  }

  // A database of its own for one test.
  std::string FreshDatabase() {
    const std::string name = "t" + std::to_string(++databases_);
    PGconn* conn = PQconnectdb(Conninfo("postgres").c_str());
    PGresult* result = PQexec(conn, ("CREATE DATABASE " + name).c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    EXPECT_TRUE(ok) << PQerrorMessage(conn);
    PQclear(result);
    PQfinish(conn);
    return Address(name);
  }

 private:
  static constexpr const char* Port = "5432";  // only names the socket file in the folder

  std::string Conninfo(const std::string& database) const {
    return "host=" + dir_ + " port=" + Port + " user=zv8810 dbname=" + database;
  }

  ::testing::AssertionResult Make() {
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec_))
      if (fs::exists(entry.path() / "bin/initdb") && entry.path().string() > bin_)
        bin_ = entry.path().string();
    if (bin_.empty())
      return ::testing::AssertionFailure()
             << "no PostgreSQL server: scripts/install-deps.sh postgresql installs it";
    bin_ += "/bin";
    char pattern[] = "/tmp/zv8810-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return ::testing::AssertionFailure() << "mkdtemp";
    dir_ = pattern;
    if (geteuid() == 0) {
      const passwd* user = getpwnam("postgres");
      if (user == nullptr) user = getpwnam("nobody");
      if (user == nullptr) return ::testing::AssertionFailure() << "no unprivileged user";
      uid_ = user->pw_uid;
      gid_ = user->pw_gid;
      if (chown(dir_.c_str(), uid_, gid_) != 0)
        return ::testing::AssertionFailure() << "chown " << dir_;
    }
    const pid_t pid = Spawn({bin_ + "/initdb", "-D", dir_ + "/data", "-U", "zv8810", "-A", "trust",
                             "-E", "UTF8", "--no-locale", "--no-sync", "--no-instructions"},
                            dir_ + "/initdb.log");
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return ::testing::AssertionFailure() << "initdb failed:\n" << ReadText(dir_ + "/initdb.log");
    return ::testing::AssertionSuccess();
  }

  // Runs the program as the server's user, its output into the log; it ends with this process.
  pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0) _exit(126);
    }
    prctl(PR_SET_PDEATHSIG, SIGINT);
    if (getppid() != parent) _exit(0);
    if (chdir(dir_.c_str()) != 0) _exit(126);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }

  std::error_code ec_;
  std::string bin_;
  std::string dir_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  pid_t pid_ = -1;
  int databases_ = 0;
};

// The suite's one server, started at the first test that needs it.
TPostgresServer& SharedServer() {
  static TPostgresServer server;
  static const ::testing::AssertionResult started = server.Start();
  EXPECT_TRUE(started);
  return server;
}

// A folder of this test's own.
std::string TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "-" + info->name();
  std::replace(name.begin(), name.end(), '/', '-');
  const std::string dir = TempDir() + "/" + name;
  fs::create_directories(dir);
  return dir;
}

enum class TEngine { Sqlite, Postgres };

// A fresh, empty history on the engine: a file or a database of its own.
std::string FreshHistory(TEngine engine) {
  static int files = 0;
  if (engine == TEngine::Sqlite)
    return TestFolder() + "/history-" + std::to_string(++files) + ".sqlite";
  return SharedServer().FreshDatabase();
}

std::unique_ptr<hist::THistoryStore> Open(const std::string& where) {
  std::string error;
  auto store = hist::IsServerAddress(where) ? hist::OpenPostgres(where, error)
                                            : hist::OpenSqlite(where, error);
  EXPECT_TRUE(store) << error;
  return store;
}

hist::TJobRecord Record(const std::string& id, std::int64_t startedUtc) {
  hist::TJobRecord r;
  r.RecordId = id;
  r.StartedUtc = startedUtc;
  r.Started = "2026-12-10T15:50:34+01:00";
  r.Command = "program";
  return r;
}

std::vector<std::string> Ids(const std::vector<hist::TJobRecord>& records) {
  std::vector<std::string> ids;
  for (const auto& r : records) ids.push_back(r.RecordId);
  return ids;
}

// Every column's value, so two records compare whole.
std::vector<hist::TValue> Values(const hist::TJobRecord& record) {
  std::vector<hist::TValue> values;
  for (const hist::TColumn& column : hist::Columns()) values.push_back(column.Get(record));
  return values;
}

class HistoryStore : public ::testing::TestWithParam<TEngine> {};

// Every field comes back as it went in: texts in Cyrillic and with quotes, numbers at their
// edges, absent values as absent, the log line by line.
TEST_P(HistoryStore, KeepsEveryFieldOfARecord) {
  auto store = Open(FreshHistory(GetParam()));
  ASSERT_TRUE(store);
  hist::TJobRecord full = Record(hist::NewRecordId(), 1796914293);
  full.Finished = "2026-12-10T15:50:39+01:00";
  full.Seconds = 4.319;
  full.Station = "line-1";
  full.User = "оператор";
  full.ProgramVersion = "2.3.0.1";
  full.Port = "/dev/serial/by-id/usb-Example_Serial_Adapter_A1B2C3-if00-port0";
  full.PortDevice = "/dev/ttyUSB0";
  full.PortUsb = "1a2b:6001 Serial Adapter serial A1B2C3";
  full.Protocol = "ZORP";
  full.Rate = 115200;
  full.Reset = "manual";
  full.FilePath = "fw \"new\", 'final'.bin";
  full.FileSize = 9'007'199'254'740'993;  // beyond a double's integers
  full.FileSum = "0x002E78D7";
  full.FileVersion = "3.08";
  full.FileDevice = "ZV8810";
  full.ReceiverNumber = "ZV8810-0042";
  full.ReceiverModuleId = "ZV-8810 GNSS module";
  full.ReceiverProductionDate = "2026-11-26";
  full.ReceiverDeviceId = "ZV-8810";
  full.BootloaderVersion = "03.07";
  full.FirmwareBefore = "3.05";
  full.FirmwareAfter = "3.08";
  full.Ok = false;
  full.ExitStatus = 5;
  full.ResultCode = 5;
  full.Stopped = true;
  full.Message = "Ошибка записи; write failed";
  full.Verified = false;
  full.BackupPath = "backups/COM7-3.05-20261210-155037.bin";
  full.Forced = true;
  full.Log = {"Execution is started - 15:50:34", "  Programming - 45%", "",
              "Выполнение остановлено - 15:50:39"};
  hist::TJobRecord bare = Record(hist::NewRecordId(), 1796914000);  // every optional absent
  hist::TJobRecord zero = Record(hist::NewRecordId(), 0);
  zero.FileSize = 0;
  zero.ResultCode = 0;
  zero.Verified = true;
  zero.Seconds = 0;
  std::string error;
  for (const auto* r : {&full, &bare, &zero}) ASSERT_TRUE(store->Add(*r, error)) << error;

  std::vector<hist::TJobRecord> back;
  ASSERT_TRUE(store->Query({}, back, error)) << error;
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(Values(back[0]), Values(full));
  EXPECT_EQ(back[0].Log, full.Log);
  EXPECT_EQ(Values(back[1]), Values(bare));
  EXPECT_FALSE(back[1].FileSize.has_value());
  EXPECT_FALSE(back[1].Verified.has_value());
  EXPECT_EQ(Values(back[2]), Values(zero));
}

// The questions a line asks, alone and together, newest first.
TEST_P(HistoryStore, FiltersNewestFirst) {
  auto store = Open(FreshHistory(GetParam()));
  ASSERT_TRUE(store);
  struct {
    const char* id;
    std::int64_t started;
    const char* receiver;
    const char* sum;
    const char* station;
    bool ok;
  } seeds[] = {
      {"a", 1000, "ZV8810-0042", "0x002E78D7", "line-1", true},
      {"b", 2000, "ZV8810-0043", "0x002E78D7", "line-2", false},
      {"c", 3000, "ZV8810-0042", "0x00ABCDEF", "line-2", false},
      {"d", 3000, "", "", "line-1", true},  // a versions inquiry at the same second, stored later
      {"e", 5000, "ZV8810-0044", "0x00ABCDEF", "line-1", true},
  };
  std::string error;
  for (const auto& s : seeds) {
    hist::TJobRecord r = Record(s.id, s.started);
    r.ReceiverNumber = s.receiver;
    r.FileSum = s.sum;
    r.Station = s.station;
    r.Ok = s.ok;
    ASSERT_TRUE(store->Add(r, error)) << error;
  }
  auto filter = [](auto change) {
    hist::TFilter f;
    change(f);
    return f;
  };
  struct {
    const char* name;
    hist::TFilter filter;
    std::vector<std::string> ids;
  } cases[] = {
      {"everything", {}, {"e", "d", "c", "b", "a"}},
      {"one receiver", filter([](auto& f) { f.Receiver = "ZV8810-0042"; }), {"c", "a"}},
      {"a receiver never seen", filter([](auto& f) { f.Receiver = "ZV8810-9999"; }), {}},
      {"one file", filter([](auto& f) { f.FileSum = "0x002E78D7"; }), {"b", "a"}},
      {"one station", filter([](auto& f) { f.Station = "line-2"; }), {"c", "b"}},
      {"since, the bound included", filter([](auto& f) { f.SinceUtc = 3000; }), {"e", "d", "c"}},
      {"failed", filter([](auto& f) { f.FailedOnly = true; }), {"c", "b"}},
      {"failed on one file",
       filter([](auto& f) {
         f.FailedOnly = true;
         f.FileSum = "0x00ABCDEF";
       }),
       {"c"}},
      {"the newest two", filter([](auto& f) { f.Limit = 2; }), {"e", "d"}},
      {"a station since a time",
       filter([](auto& f) {
         f.Station = "line-1";
         f.SinceUtc = 2500;
       }),
       {"e", "d"}},
  };
  for (const auto& c : cases) {
    std::vector<hist::TJobRecord> found;
    ASSERT_TRUE(store->Query(c.filter, found, error)) << c.name << ": " << error;
    EXPECT_EQ(Ids(found), c.ids) << c.name;
  }
}

// A sync that runs twice (or is cut short after the server stored the records) stores each
// record once; removing takes exactly the records named.
TEST_P(HistoryStore, StoresEachRecordOnceAndRemovesByRecordId) {
  auto store = Open(FreshHistory(GetParam()));
  ASSERT_TRUE(store);
  std::vector<hist::TJobRecord> batch = {Record("x1", 10), Record("x2", 20), Record("x3", 30)};
  std::string error;
  ASSERT_TRUE(store->AddAll(batch, error)) << error;
  ASSERT_TRUE(store->AddAll(batch, error)) << error;
  ASSERT_TRUE(store->Add(batch[1], error)) << error;
  std::vector<hist::TJobRecord> found;
  ASSERT_TRUE(store->Query({}, found, error)) << error;
  EXPECT_EQ(Ids(found), (std::vector<std::string>{"x3", "x2", "x1"}));
  ASSERT_TRUE(store->Remove({"x1", "x3", "not-there"}, error)) << error;
  ASSERT_TRUE(store->Query({}, found, error)) << error;
  EXPECT_EQ(Ids(found), (std::vector<std::string>{"x2"}));
}

// Opening again keeps the records and the schema's one version row; a history written by a newer
// program (a schema this one does not know) is refused, not written into.
TEST_P(HistoryStore, MigratesOnceAndRefusesANewerSchema) {
  const std::string where = FreshHistory(GetParam());
  std::string error;
  {
    auto store = Open(where);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->Add(Record("kept", 1), error)) << error;
  }
  auto again = Open(where);
  ASSERT_TRUE(again);
  std::vector<hist::TJobRecord> found;
  ASSERT_TRUE(again->Query({}, found, error)) << error;
  EXPECT_EQ(Ids(found), std::vector<std::string>{"kept"});
  again.reset();

  // What a newer program would leave behind, written with the engine's own client.
  const std::string sql = "UPDATE schema_version SET version = 99";
  std::string rows;
  if (GetParam() == TEngine::Sqlite) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(where.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM schema_version", -1, &statement, nullptr);
    sqlite3_step(statement);
    rows = std::to_string(sqlite3_column_int(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
  } else {
    PGconn* conn = PQconnectdb(where.c_str());
    PQclear(PQexec(conn, sql.c_str()));
    PGresult* result = PQexec(conn, "SELECT count(*) FROM schema_version");
    rows = PQgetvalue(result, 0, 0);
    PQclear(result);
    PQfinish(conn);
  }
  EXPECT_EQ(rows, "1");
  auto newer = GetParam() == TEngine::Sqlite ? hist::OpenSqlite(where, error)
                                             : hist::OpenPostgres(where, error);
  EXPECT_FALSE(newer);
  EXPECT_NE(error.find("newer zv8810-fwu (schema version 99"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Engines, HistoryStore,
                         ::testing::Values(TEngine::Sqlite, TEngine::Postgres),
                         [](const auto& info) {
                           return info.param == TEngine::Sqlite ? "Sqlite" : "Postgres";
                         });

// Several processes write into one new file at once, each record in its own transaction: every
// record arrives, none twice, and nobody fails with "database is locked".
TEST(HistorySqlite, SeveralProcessesWriteAtOnce) {
  const std::string file = TestFolder() + "/history.sqlite";
  constexpr int Processes = 6, Records = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < Processes; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      hist::THistoryTarget target;
      target.LocalPath = file;
      for (int i = 0; i < Records; ++i) {
        hist::TJobRecord r = Record("", 1000 + i);
        r.Station = "process-" + std::to_string(p);
        std::string note, error;
        if (!hist::RecordJob(target, r, note, error)) {
          std::fprintf(stderr, "process %d record %d: %s\n", p, i, error.c_str());
          _exit(1);
        }
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto store = Open(file);
  ASSERT_TRUE(store);
  std::vector<hist::TJobRecord> found;
  std::string error;
  ASSERT_TRUE(store->Query({}, found, error)) << error;
  EXPECT_EQ(found.size(), static_cast<std::size_t>(Processes * Records));
  std::set<std::string> ids;
  std::map<std::string, int> perStation;
  for (const auto& r : found) {
    ids.insert(r.RecordId);
    ++perStation[r.Station];
  }
  EXPECT_EQ(ids.size(), found.size()) << "a record id was made twice";
  for (const auto& [station, count] : perStation) EXPECT_EQ(count, Records) << station;
  // The file is in WAL mode, so readers never wait for a writer.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
  sqlite3_step(statement);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

// zv8810-fwu processes started together, each with its own environment.
std::vector<TRunResult> RunCliTogether(const std::vector<std::vector<std::string>>& runs,
                                       const std::vector<std::string>& stations) {
  std::vector<pid_t> pids;
  std::vector<std::string> bases;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::string base = TestFolder() + "/run-" + std::to_string(i);
    bases.push_back(base);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("ZV8810_STATION", stations[i].c_str(), 1);
      const int out = ::open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<std::string> args = {CliPath()};
      args.insert(args.end(), runs[i].begin(), runs[i].end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  std::vector<TRunResult> results(runs.size());
  for (std::size_t i = 0; i < pids.size(); ++i) {
    int status = 0;
    waitpid(pids[i], &status, 0);
    results[i].Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    results[i].Out = ReadText(bases[i] + ".out");
    results[i].Err = ReadText(bases[i] + ".err");
  }
  return results;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// The command line's own jobs, from several processes at once into one file, then asked about
// through `history`: each job one record, the job's exit status unchanged, and the filters and
// formats of the command.
TEST(HistoryCli, JobsOfSeveralProcessesAndTheQueries) {
  const std::string file = TestFolder() + "/line.sqlite";
  // Ports with no device behind them: each job ends at once, "Could not open COMn!" (exit 7).
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> stations;
  for (int p = 0; p < 6; ++p) {
    std::vector<std::string> args = {"versions"};
    for (int port = 0; port < 5; ++port) {
      args.push_back("--port");
      args.push_back("COM" + std::to_string(200 + p * 5 + port));
    }
    args.push_back("--history");
    args.push_back(file);
    runs.push_back(args);
    stations.push_back(p % 2 == 0 ? "line-even" : "line-odd");
  }
  for (const TRunResult& r : RunCliTogether(runs, stations)) {
    EXPECT_EQ(r.Exit, 7) << r.Out << r.Err;
    EXPECT_EQ(r.Err.find("history"), std::string::npos) << r.Err;
  }
  // --no-history leaves no record.
  TRunResult none = RunCli({"versions", "--port", "COM299", "--history", file, "--no-history"});
  EXPECT_EQ(none.Exit, 64) << none.Err;
  none = RunCli({"versions", "--port", "COM299", "--no-history"});
  EXPECT_EQ(none.Exit, 7) << none.Err;

  TRunResult json = RunCli({"history", "--history", file, "--json"});
  ASSERT_EQ(json.Exit, 0) << json.Err;
  EXPECT_EQ(Count(json.Out, "\"record_id\":"), 30u) << json.Out;
  EXPECT_EQ(Count(json.Out, "\"command\":\"versions\""), 30u);
  EXPECT_EQ(Count(json.Out, "\"exit_status\":7,"), 30u);
  EXPECT_EQ(Count(json.Out, "COM299"), 0u) << "a job with --no-history left a record";
  EXPECT_EQ(Count(json.Out, "\"message\":\"Could not open COM2"), 30u) << json.Out;

  struct {
    std::vector<std::string> args;
    std::size_t records;
  } cases[] = {
      {{"--station", "line-odd", "--json"}, 15},
      {{"--station", "line-odd", "--failed", "--json"}, 15},
      {{"--since", "1h", "--limit", "7", "--json"}, 7},
      {{"--since", "2099-01-01", "--json"}, 0},
      {{"--receiver", "ZV8810-0042", "--json"}, 0},
      {{"--file-sum", "2e78d7", "--json"}, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"history", "--history", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRunResult r = RunCli(args);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(Count(r.Out, "\"record_id\":"), c.records) << c.args[0] << " " << c.args[1];
  }

  // CSV: a header of the columns, then one line per record (CR LF), the message quoted where it
  // holds a comma.
  TRunResult csv = RunCli({"history", "--history", file, "--csv", "--limit", "3"});
  ASSERT_EQ(csv.Exit, 0) << csv.Err;
  EXPECT_EQ(csv.Out.rfind("record_id,started,started_utc,", 0), 0u) << csv.Out;
  EXPECT_EQ(Count(csv.Out, "\r\n"), 4u) << csv.Out;

  // The table: a header and a row per record, newest first.
  TRunResult table = RunCli({"history", "--history", file, "--station", "line-even"});
  ASSERT_EQ(table.Exit, 0) << table.Err;
  EXPECT_TRUE(std::regex_search(
      table.Out, std::regex("^started +station +command +port +receiver +file +result +firmware "
                            "+message\n")))
      << table.Out;
  EXPECT_EQ(Count(table.Out, " line-even  versions  COM2"), 15u) << table.Out;
  EXPECT_EQ(Count(table.Out, "exit 7"), 15u);

  // Usage errors say what to do.
  struct {
    std::vector<std::string> args;
    const char* says;
  } bad[] = {
      {{"history", "--since", "yesterday"}, "--since takes a date"},
      {{"history", "--file-sum", "0xZZ"}, "--file-sum takes the file's sum"},
      {{"history", "--json", "--csv"}, "--json or --csv"},
      {{"history", "--sync", "--failed"}, "--sync takes only --history"},
      {{"history", "--sync", "--history", file}, "--sync needs the server"},
  };
  for (const auto& b : bad) {
    TRunResult r = RunCli(b.args);
    EXPECT_EQ(r.Exit, 64) << b.says;
    EXPECT_NE(r.Err.find(b.says), std::string::npos) << r.Err;
  }
}

// --since as dates, times with and without an offset, and times back from now.
TEST(HistoryCli, SinceTakesDatesTimesAndSpans) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  setenv("TZ", "IST-5:30", 1);
  tzset();
  const long long now = 1796914293;
  struct {
    const char* text;
    bool ok;
    long long utc;
  } cases[] = {
      {"2026-12-10", true, 1796860800 - 19800},  // local midnight
      {"2026-12-10T15:50", true, 1796917800 - 19800},
      {"2026-12-10 15:50:34", true, 1796917834 - 19800},
      {"2026-12-10T15:50:34Z", true, 1796917834},
      {"2026-12-10T15:50:34+01:00", true, 1796917834 - 3600},
      {"2026-12-10T15:50-03:30", true, 1796917800 + 12600},
      {"36h", true, now - 36 * 3600},
      {"7d", true, now - 7 * 86400},
      {"2026-13-01", false, 0},
      {"2026-12-1", false, 0},
      {"2026-12-10T25:00", false, 0},
      {"2026-12-10T15:50+1", false, 0},
      {"d", false, 0},
      {"-3d", false, 0},
      {"", false, 0},
  };
  for (const auto& c : cases) {
    long long utc = 0;
    EXPECT_EQ(ParseSince(c.text, now, utc), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(utc, c.utc) << c.text;
    }
  }
  if (saved)
    setenv("TZ", before.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// A process of the command line that runs until it is told to stop (SIGINT, as Ctrl+C).
class TCliProcess {
 public:
  explicit TCliProcess(const std::vector<std::string>& args) : base_(TestFolder() + "/cli") {
    pid_ = fork();
    if (pid_ == 0) {
      const int out = ::open((base_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open((base_ + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<std::string> all = {CliPath()};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~TCliProcess() {
    if (pid_ > 0) Interrupt();
  }
  TRunResult Interrupt() {
    TRunResult result;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadText(base_ + ".out");
    result.Err = ReadText(base_ + ".err");
    return result;
  }

 private:
  std::string base_;
  pid_t pid_ = -1;
};

// Waits until the condition holds (true) or the time is up (false).
template <typename TCondition>
bool WaitFor(TCondition condition, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return condition();
}

std::size_t RecordsIn(const std::string& where, hist::TFilter filter = {}) {
  std::string error;
  auto store = hist::IsServerAddress(where) ? hist::OpenPostgres(where, error)
                                            : hist::OpenSqlite(where, error);
  std::vector<hist::TJobRecord> found;
  if (!store || !store->Query(filter, found, error)) return 0;
  return found.size();
}

// Each test that keeps records locally gets a data folder of its own (the children inherit it).
void FreshDataFolder() {
  const std::string data = TestFolder() + "/data";
  fs::create_directories(data);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
}

// A server that cannot be reached does not stop the job: its record is kept locally with a mark
// (the job's exit status stays its own), `history` says the server is not there, and --sync moves
// the record to a server later, once.
TEST(HistoryServer, UnreachableServerKeepsRecordsLocallyUntilSync) {
  FreshDataFolder();
  const std::string local = hist::DefaultHistoryPath();
  const std::string nowhere = TestFolder() + "/no-server";
  fs::create_directories(nowhere);
  const std::string dead = "postgresql:///postgres?host=" + nowhere + "&user=zv8810";
  const std::string live = SharedServer().FreshDatabase();

  TRunResult job = RunCli({"versions", "--port", "COM240", "--port", "COM241", "--history", dead});
  EXPECT_EQ(job.Exit, 7) << job.Err;
  // The first record waits for the server; the next goes straight to the local file.
  EXPECT_NE(job.Err.find("[COM240] zv8810-fwu: history: the history server " + dead +
                         " cannot be reached: connection to server on socket"),
            std::string::npos)
      << job.Err;
  EXPECT_NE(job.Err.find("[COM241] zv8810-fwu: history: the history server " + dead +
                         " could not be reached a moment ago"),
            std::string::npos)
      << job.Err;
  EXPECT_NE(job.Err.find("the record is kept in " + local +
                         " until `zv8810-fwu history --sync` moves it there"),
            std::string::npos)
      << job.Err;
  hist::TFilter pending;
  pending.PendingOnly = true;
  EXPECT_EQ(RecordsIn(local, pending), 2u);

  TRunResult down = RunCli({"history", "--history", dead});
  EXPECT_EQ(down.Exit, 69) << down.Out << down.Err;
  EXPECT_NE(down.Err.find("cannot be reached"), std::string::npos) << down.Err;
  TRunResult stillDown = RunCli({"history", "--sync", "--history", dead});
  EXPECT_EQ(stillDown.Exit, 69) << stillDown.Err;
  EXPECT_EQ(RecordsIn(local, pending), 2u) << "a failed sync lost records";

  // Before the sync the server's list shows the records kept here, marked.
  TRunResult before = RunCli({"history", "--history", live});
  ASSERT_EQ(before.Exit, 0) << before.Err;
  EXPECT_EQ(Count(before.Out, "exit 7 *"), 2u) << before.Out;
  EXPECT_NE(before.Out.find("* kept on this computer until the server can be reached"),
            std::string::npos);

  setenv("ZV8810_HISTORY", live.c_str(), 1);  // the variable names the server as well
  TRunResult sync = RunCli({"history", "--sync"});
  unsetenv("ZV8810_HISTORY");
  EXPECT_EQ(sync.Exit, 0) << sync.Err;
  EXPECT_EQ(sync.Out, "2 records moved from " + local + " to " + live + "\n");
  EXPECT_EQ(RecordsIn(live), 2u);
  EXPECT_EQ(RecordsIn(local), 0u);
  TRunResult after = RunCli({"history", "--history", live, "--json"});
  EXPECT_EQ(Count(after.Out, "\"pending_server\":null"), 2u) << after.Out;
  EXPECT_EQ(Count(after.Out, "\"port\":\"COM24"), 2u) << after.Out;
  TRunResult again = RunCli({"history", "--sync", "--history", live});
  EXPECT_EQ(again.Out, "0 records moved from " + local + " to " + live + "\n") << again.Err;
  EXPECT_EQ(RecordsIn(live), 2u);
}

// The plant's server goes away in the middle of a station run: the receiver programmed before
// is on the server, the one programmed while it is away is kept locally, the station goes on,
// and --sync brings the server the rest once it is back.
TEST(HistoryServer, ServerGoesAwayDuringAStationRun) {
  FreshDataFolder();
  const std::string local = hist::DefaultHistoryPath();
  TPostgresServer server;
  ASSERT_TRUE(server.Start());
  const std::string plant = server.Address();
  const std::string folder = TestFolder();
  sim::TFirmwareSpec spec;
  spec.Size = 3000;
  spec.Major = "3";
  spec.Minor = "09";
  const std::string file = folder + "/fw.bin";
  {
    const Bytes bytes = sim::MakeSystemFile(spec);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  setenv("ZV8810_STATION", "line-3", 1);
  TCliProcess station({"station", "--protocol", "zorp", "--file", file, "--history", plant});
  unsetenv("ZV8810_STATION");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the station reads the ports
  {
    TSimProcess first(246, {"--protocol", "zorp"});
    ASSERT_TRUE(WaitFor([&] { return RecordsIn(plant) == 1; }, 30)) << "no record on the server";
  }
  server.Stop();
  hist::TFilter pending;
  pending.PendingOnly = true;
  {
    TSimProcess second(247, {"--protocol", "zorp"});
    ASSERT_TRUE(WaitFor([&] { return RecordsIn(local, pending) == 1; }, 30))
        << "no record kept locally";
  }
  TRunResult run = station.Interrupt();
  EXPECT_EQ(run.Exit, 0) << run.Out << run.Err;
  EXPECT_TRUE(std::regex_search(run.Out, std::regex("COM247  ok  3\\.09 .*\n2 done, 0 failed")))
      << run.Out;
  EXPECT_NE(run.Err.find("[COM247] zv8810-fwu: history: the history server"), std::string::npos)
      << run.Err;

  ASSERT_TRUE(server.Start());
  TRunResult sync = RunCli({"history", "--sync", "--history", plant});
  EXPECT_EQ(sync.Exit, 0) << sync.Err;
  EXPECT_EQ(sync.Out.rfind("1 record moved", 0), 0u) << sync.Out;
  TRunResult list = RunCli({"history", "--history", plant, "--station", "line-3", "--json"});
  ASSERT_EQ(list.Exit, 0) << list.Err;
  EXPECT_EQ(Count(list.Out, "\"record_id\""), 2u) << list.Out;
  EXPECT_EQ(Count(list.Out, "\"command\":\"station\""), 2u);
  EXPECT_EQ(Count(list.Out, "\"ok\":true"), 2u);
  EXPECT_EQ(Count(list.Out, "\"file_version\":\"3.09\""), 2u);
  EXPECT_EQ(Count(list.Out, "\"firmware_after\":\"3.09\""), 2u);
  EXPECT_EQ(Count(list.Out, "\"pending_server\":null"), 2u);
  // Newest first: the receiver programmed while the server was away comes first.
  EXPECT_LT(list.Out.find("\"port\":\"COM247\""), list.Out.find("\"port\":\"COM246\"")) << list.Out;

  // The receiver's identity (ZORP) answers the line's question: what did this receiver get.
  TRunResult receiver = RunCli({"history", "--history", plant, "--receiver", "ZV8810-000417"});
  ASSERT_EQ(receiver.Exit, 0) << receiver.Err;
  EXPECT_EQ(Count(receiver.Out, "  line-3   station  COM24"), 2u) << receiver.Out;
  EXPECT_TRUE(std::regex_search(
      receiver.Out, std::regex("COM247  ZV8810-000417  3\\.09 0x[0-9A-F]{8}  ok      3\\.09 ")))
      << receiver.Out;
  EXPECT_EQ(Count(list.Out, "\"receiver_module_id\":\"ZV-8810 GNSS module\""), 2u);
  TRunResult other = RunCli({"history", "--history", plant, "--receiver", "ZV8810-000418"});
  EXPECT_EQ(other.Out, "");
  EXPECT_NE(other.Err.find("No records in"), std::string::npos) << other.Err;
}

}  // namespace
