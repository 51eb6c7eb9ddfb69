// The reports' JSON writer: separators between members and elements, and strings that stay
// valid JSON and UTF-8 whatever bytes they are given.
#include <gtest/gtest.h>

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
