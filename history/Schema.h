// The one schema of the history, for every engine: the columns of the jobs table (each with its
// place in TJobRecord), the steps that bring a database from any older version to the current
// one, and the statements built from them. The engines differ only in the id column and in how a
// statement names its parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "history/HistoryRecord.h"

namespace hist {

// A column's value as it travels to and from an engine.
using TValue = std::variant<std::monostate, std::int64_t, double, std::string>;

enum class TColumnType { Text, Integer, Real };

struct TColumn {
  const char* Name;
  TColumnType Type;
  std::function<TValue(const TJobRecord&)> Get;
  std::function<void(TJobRecord&, const TValue&)> Set;
};

enum class TDialect { Sqlite, Postgres };

// Every column of the jobs table but its id, in their order.
const std::vector<TColumn>& Columns();

// The schema's version this program writes; a database of a newer version is refused, since an
// older program cannot know what its records mean.
constexpr int SchemaVersion = 1;

// The statements that take a database from version `from` to `from + 1`.
std::vector<std::string> MigrationStep(TDialect dialect, int from);

// "INSERT INTO jobs (...) VALUES (...)" with one parameter per column.
std::string InsertStatement(TDialect dialect);
// "SELECT id, <columns> FROM jobs WHERE ... ORDER BY ..." for the filter; params receives the
// values of its parameters in order.
std::string SelectStatement(TDialect dialect, const TFilter& filter, std::vector<TValue>& params);

// The text with every byte sequence that is not UTF-8 (and every zero byte) replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

}  // namespace hist
