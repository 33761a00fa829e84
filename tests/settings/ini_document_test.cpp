#include <gtest/gtest.h>

#include <tuple>

#include "settings/ini_document.h"

namespace quorvel {
namespace {

TEST(IniDocument, ChangesOnlyTheKeyAndAddsLinesThatReadBack) {
  const std::tuple<Bytes, const char*, const char*, const char*, Bytes> cases[] = {
      // Replaced where it stands: its spelling and the blanks before '=' kept, odd lines too.
      {"; c\n\n[a]\r\n X = 'y' \n junk\n[b\n=\n\r\n\r\r\n", "A", "x", "z",
       "; c\n\n[a]\r\n X =z\n junk\n[b\n=\n\r\n\r\r\n"},
      {Bytes("[a]\nk=v\0w\n", 10), "a", "n", "1", Bytes("[a]\nk=v\0w\nn=1\n", 14)},
      {"\xEF\xBB\xBF[a]\nk=0\n", "a", "k", "1", "\xEF\xBB\xBF[a]\nk=1\n"},  // byte order mark
      {"[KAVO]\r\nact=1", "KAVO", "act", "0", "[KAVO]\r\nact=0"},
      // An unterminated last line gets the file's ending; CR LF when the file has none yet.
      {"[KAVO]\nact=1", "KAVO", "limit", "0", "[KAVO]\nact=1\nlimit=0\n"},
      {"junk", "prefs", "port", "1", "junk\r\n[prefs]\r\nport=1\r\n"},
      {"[a]\nk=1\r", "a", "n", "2", "[a]\nk=1\r\nn=2\n"},  // a last CR joins the new ending
      {"[KAVO]\n[prefs]\n", "prefs", "port", "1", "[KAVO]\n[prefs]\nport=1\n"},
      // Refused, changing nothing: names or values that would not read back from one line.
      {"[a]\n", "", "k", "v", "[a]\n"},
      {"[a]\n", " a", "k", "v", "[a]\n"},
      {"[a]\n", "a]", "k", "v", "[a]\n"},
      {"[a]\n", "a\n", "k", "v", "[a]\n"},
      {"[a]\n", "a", "", "v", "[a]\n"},
      {"[a]\n", "a", "k=", "v", "[a]\n"},
      {"[a]\n", "a", "[k", "v", "[a]\n"},
      {"[a]\n", "a", "k ", "v", "[a]\n"},
      {"[a]\n", "a", "k\r", "v", "[a]\n"},
      {"[a]\n", "a", "k", "v\r\n[b]", "[a]\n"},
      {"[a]\n", "a", "k", "line\n", "[a]\n"},
      {"[a]\n", "a", "k", "\r", "[a]\n"},
  };
  for (const auto& [before, section, key, value, after] : cases) {
    SCOPED_TRACE(testing::Message() << before << "|" << section << "|" << key << "|" << value);
    EXPECT_EQ(IniDocument::Parse(before).Serialize(), before);
    IniDocument ini = IniDocument::Parse(before);
    EXPECT_EQ(ini.Set(section, key, value), after != before);
    EXPECT_EQ(ini.Serialize(), after);
  }
}

}  // namespace
}  // namespace quorvel
