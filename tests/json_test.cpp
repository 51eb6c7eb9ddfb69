// The reports' JSON writer: separators between members and elements, and strings that stay
// valid JSON and UTF-8 whatever bytes they are given; the reports' time stamps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "cli/IsoTime.h"
#include "cli/JsonWriter.h"

TEST(JsonWriter, SeparatesMembersAndNestsContainers) {
  TJsonWriter json;
  json.BeginObject()
      .Key("a")
      .Integer(-3)
      .Key("b")
      .BeginArray()
      .Bool(true)
      .Null()
      .BeginObject()
      .EndObject()
      .Number(1.5)
      .EndArray()
      .Key("c")
      .BeginArray()
      .EndArray()
      .EndObject();
  EXPECT_EQ(json.Text(), R"({"a":-3,"b":[true,null,{},1.500],"c":[]})");
}

TEST(JsonWriter, QuotesEveryStringValidly) {
  struct {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"control characters", std::string("\r\n\t\x01\x7f", 5), R"("\r\n\t\u0001\u007f")"},
      {"Cyrillic stays as it is", "Проверка", "\"Проверка\""},
      {"a lone Windows-1251 byte", "\xcf!", "\"\xEF\xBF\xBD!\""},
      {"a cut sequence at the end", "ok\xd0", "\"ok\xEF\xBF\xBD\""},
      {"an overlong slash", "\xc0\xaf", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"a surrogate", "\xed\xa0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"four bytes", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
      {"a zero byte", std::string("a\0b", 3), R"("a\u0000b")"},
  };
  for (auto& c : cases) EXPECT_EQ(JsonQuoted(c.in), c.out) << c.name;
}

// Local time with its offset from UTC, worked out from the local time itself (the zone's name,
// which some C runtimes write for %z, never appears), across a date line and a summer time.
TEST(IsoTime, LocalTimeWithItsOffset) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  struct {
    const char* zone;  // POSIX TZ: the sign says how far UTC is ahead of the zone
    std::time_t when;
    const char* expected;
  } cases[] = {
      {"UTC0", 0, "1970-01-01T00:00:00+00:00"},
      {"IST-5:30", 1796914293, "2026-12-10T20:21:33+05:30"},
      {"NST3:30", 1796914293, "2026-12-10T11:21:33-03:30"},
      {"XST-14", 1796914293, "2026-12-11T04:51:33+14:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1782000000, "2026-06-21T02:00:00+02:00"},
      {"EST5EDT,M3.2.0,M11.1.0", 1796914293, "2026-12-10T09:51:33-05:00"},
  };
  for (const auto& c : cases) {
    ::setenv("TZ", c.zone, 1);
    ::tzset();
    EXPECT_EQ(IsoTime(c.when), c.expected) << c.zone;
  }
  if (saved)
    ::setenv("TZ", before.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}
