#include "app/ini_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <tuple>

namespace quorvel {
namespace {

Bytes ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

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
  };
  for (const auto& [before, section, key, value, after] : cases) {
    EXPECT_EQ(IniDocument::Parse(before).Serialize(), before);
    IniDocument ini = IniDocument::Parse(before);
    EXPECT_TRUE(ini.Set(section, key, value));
    EXPECT_EQ(ini.Serialize(), after);
    EXPECT_EQ(IniDocument::Parse(after).Get(section, key), value) << after;
  }
}

TEST(IniFile, WritesKeysOneAtATimeAndRefusesWhatCannotBeReadBack) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("prefs.ini"));
  EXPECT_EQ(ReadIni("KAVO", "act", path, "dflt"), "dflt");
  const Bytes longValue(2000, 'x');
  EXPECT_TRUE(WriteIni("KAVO", "act", "1", path) && WriteIni("KAVO", "block", longValue, path) &&
              WriteIni("prefs", "port", "3131", path) && WriteIni("kavo", "ACT", "0", path));
  const Bytes written = "[KAVO]\r\nact=0\r\nblock=" + longValue + "\r\n[prefs]\r\nport=3131\r\n";
  EXPECT_EQ(ReadAll(path), written);
  EXPECT_EQ(ReadIni("KAVO", "block", path, ""), longValue);

  const std::tuple<const char*, const char*, const char*> refused[] = {
      {"", "k", "v"},    {" a", "k", "v"},     {"a]", "k", "v"},     {"a\n", "k", "v"},
      {"a", "", "v"},    {"a", "k=", "v"},     {"a", "[k", "v"},     {"a", "k ", "v"},
      {"a", "k\r", "v"}, {"a", "k", "v\r\nx"}, {"a", "k", "line\n"}, {"a", "k", "\r"},
  };
  for (const auto& [section, key, value] : refused) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteIni(section, key, value, path)) << section << "/" << key << "/" << value;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not changed"), std::string::npos);
  }
  EXPECT_EQ(ReadAll(path), written);
}

TEST(IniFile, CrashDuringSaveLeavesTheOldFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("prefs.ini"));
  const Bytes old = "[KAVO]\r\nact=1\r\n; mine\r\n";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, old, &error)) << error;
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    const Bytes replacement = "[KAVO]\r\nact=0\r\n" + Bytes(100000, 'x') + "\r\n";
    WriteFileAtomically(path, replacement, &error, [] { _exit(42); });
    _exit(1);  // not reached when the hook runs
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << status;
  EXPECT_EQ(ReadAll(path), old);
}

}  // namespace
}  // namespace quorvel
