#include "app/ini_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <utility>
#include <vector>

#include "app/ini_document.h"

namespace quorvel {
namespace {

Bytes ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<unreadable>";
  return file.readAll().toStdString();
}

void WriteAll(const QString& path, BytesView data) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(data.data(), static_cast<qint64>(data.size())),
            static_cast<qint64>(data.size()));
}

TEST(IniDocument, SerializesWhatItParsedByteForByte) {
  const std::vector<Bytes> files = {
      "",
      "[KAVO]\r\nact=1\r\n",
      "[KAVO]\nact=1\n",
      "[KAVO]\r\nact=1",
      "\xEF\xBB\xBF[KAVO]\r\nact=1\r\n",
      "; comment\n\n[a]\r\nx = 'y' \n junk line\n[b\n=\n\r\n\r\r\n",
      std::string("[a]\nk=v\0w\n", 11),
  };
  for (const Bytes& file : files) {
    EXPECT_EQ(IniDocument::Parse(file).Serialize(), file);
  }
}

TEST(IniDocument, ReadsValuesAsThePlatformReaderDoes) {
  const IniDocument ini = IniDocument::Parse(
      "top=before any section\r\n"
      "; a comment=not a key\r\n"
      "[ Kavo ]\r\n"
      "  Artist  =  %a  \r\n"
      "quoted=\"  kept inside  \"\r\n"
      "single='x'\r\n"
      "mixed=\"x'\r\n"
      "lone=\"\r\n"
      "twice=\"\"x\"\"\r\n"
      "equals=a=b\r\n"
      "empty=\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "\tpad=\t \t\r\n"
      "[other]\r\n"
      "only=here\r\n"
      "[KAVO]\r\n"
      "late=ignored\r\n");
  const std::vector<std::pair<const char*, std::optional<Bytes>>> cases = {
      {"artist", "%a"},
      {"ARTIST", "%a"},
      {"quoted", "  kept inside  "},
      {"single", "x"},
      {"mixed", "\"x'"},
      {"lone", "\""},
      {"twice", "\"x\""},
      {"equals", "a=b"},
      {"empty", ""},
      {"dup", "first"},
      {"pad", ""},
      {"only", std::nullopt},
      {"late", std::nullopt},  // only the first section of a name counts
      {"top", std::nullopt},
      {"; a comment", std::nullopt},
  };
  for (const auto& [key, expected] : cases) {
    EXPECT_EQ(ini.Get("kavo", key), expected) << key;
  }
  EXPECT_EQ(ini.Get("OTHER", "Only"), "here");
  EXPECT_EQ(ini.Get("missing", "only"), std::nullopt);
  EXPECT_EQ(IniDocument::Parse("\xEF\xBB\xBF[KAVO]\nact=1\n").Get("KAVO", "act"), "1");
}

TEST(IniDocument, WritesInPlaceAndAppendsAtTheEndOfSectionAndFile) {
  struct Case {
    const char* name;
    Bytes before;
    const char* section;
    const char* key;
    const char* value;
    Bytes after;
  };
  const std::vector<Case> cases = {
      {"new file is CR LF", "", "KAVO", "act", "1", "[KAVO]\r\nact=1\r\n"},
      {"replaced where it stands, spelling and ending kept", "[kavo]\r\n ACT = 0 \r\nx=1\r\n",
       "KAVO", "act", "1", "[kavo]\r\n ACT =1\r\nx=1\r\n"},
      {"same value leaves the line alone", "[KAVO]\nact=1\n", "KAVO", "act", "1",
       "[KAVO]\nact=1\n"},
      {"new key after the last filled line, before blanks and the next section",
       "[KAVO]\r\nact=1\r\n; note\r\n\r\n[prefs]\r\nport=1\r\n", "KAVO", "limit", "0",
       "[KAVO]\r\nact=1\r\n; note\r\nlimit=0\r\n\r\n[prefs]\r\nport=1\r\n"},
      {"new key in an empty last section", "[KAVO]\n[prefs]\n", "prefs", "port", "3131",
       "[KAVO]\n[prefs]\nport=3131\n"},
      {"new section at the end, LF file stays LF", "[KAVO]\nact=1\n", "prefs", "port", "3131",
       "[KAVO]\nact=1\n[prefs]\nport=3131\n"},
      {"last line without ending gets one", "[KAVO]\nact=1", "KAVO", "limit", "0",
       "[KAVO]\nact=1\nlimit=0\n"},
      {"new section after an unterminated line", "junk", "prefs", "port", "1",
       "junk\r\n[prefs]\r\nport=1\r\n"},
      {"unterminated value replaced keeps no ending", "[KAVO]\r\nact=1", "KAVO", "act", "0",
       "[KAVO]\r\nact=0"},
      {"only the first section of a name is written", "[a]\nk=1\n[A]\nk=2\n", "a", "k", "3",
       "[a]\nk=3\n[A]\nk=2\n"},
      {"a CR ending an LF file reads as part of the new line ending", "[a]\nk=1\r", "a", "n", "2",
       "[a]\nk=1\r\nn=2\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[KAVO]\nact=0\n", "KAVO", "act", "1",
       "\xEF\xBB\xBF[KAVO]\nact=1\n"},
  };
  for (const Case& c : cases) {
    IniDocument ini = IniDocument::Parse(c.before);
    EXPECT_TRUE(ini.Set(c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(ini.Serialize(), c.after) << c.name;
    const IniDocument reread = IniDocument::Parse(c.after);
    EXPECT_EQ(reread.Get(c.section, c.key), c.value) << c.name;
    EXPECT_EQ(ini.Get(c.section, "k"), reread.Get(c.section, "k")) << c.name;
  }
}

TEST(IniDocument, RefusesWhatCannotBeReadBack) {
  const std::vector<std::tuple<const char*, const char*, const char*>> refused = {
      {"", "k", "v"},    {" a", "k", "v"},     {"a]", "k", "v"},     {"a\n", "k", "v"},
      {"a", "", "v"},    {"a", "k=", "v"},     {"a", "[k", "v"},     {"a", "k ", "v"},
      {"a", "k\r", "v"}, {"a", "k", "v\r\nx"}, {"a", "k", "line\n"}, {"a", "k", "\r"},
  };
  const Bytes before = "[a]\r\nk=old\r\n";
  for (const auto& [section, key, value] : refused) {
    IniDocument ini = IniDocument::Parse(before);
    EXPECT_FALSE(ini.Set(section, key, value)) << section << "/" << key << "/" << value;
    EXPECT_EQ(ini.Serialize(), before);
  }
}

class IniFileTest : public ::testing::Test {
 protected:
  QString PathOf(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  QTemporaryDir dir_;
};

TEST_F(IniFileTest, ReadsAndWritesKeysOneAtATime) {
  const QString path = PathOf("prefs.ini");
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadIni("KAVO", "act", path, "dflt"), "dflt");
  EXPECT_TRUE(WriteIni("KAVO", "act", "1", path));
  EXPECT_TRUE(FileExists(path));
  const Bytes longValue(2000, 'x');
  EXPECT_TRUE(WriteIni("KAVO", "block", longValue, path));
  EXPECT_TRUE(WriteIni("prefs", "port", "3131", path));
  EXPECT_TRUE(WriteIni("kavo", "ACT", "0", path));
  EXPECT_EQ(ReadAll(path),
            "[KAVO]\r\nact=0\r\nblock=" + longValue + "\r\n[prefs]\r\nport=3131\r\n");
  EXPECT_EQ(ReadIni("KAVO", "block", path, ""), longValue);  // whole, no 255-byte cut
  EXPECT_FALSE(FileExists(dir_.path()));
}

TEST_F(IniFileTest, FailedWriteIsReportedAndChangesNothing) {
  const QString blocker = PathOf("plain-file");
  WriteAll(blocker, "not a folder");
  const QString unwritable = blocker + QStringLiteral("/prefs.ini");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteIni("KAVO", "act", "1", unwritable));
  const std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find("cannot be written"), std::string::npos) << reported;
  EXPECT_EQ(ReadAll(blocker), "not a folder");

  // A folder where the file should be: it cannot be read, so it is not replaced.
  const QString folder = PathOf("prefs-folder");
  ASSERT_TRUE(QDir().mkpath(folder));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteIni("KAVO", "act", "1", folder));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("folder"), std::string::npos);
  EXPECT_TRUE(QFileInfo(folder).isDir());

  // A value that would break the file is refused and the file kept.
  const QString path = PathOf("prefs.ini");
  WriteAll(path, "[KAVO]\r\nact=1\r\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteIni("KAVO", "act", "1\r\n[prefs]\r\nport=1", path));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("act"), std::string::npos);
  EXPECT_EQ(ReadAll(path), "[KAVO]\r\nact=1\r\n");
}

TEST_F(IniFileTest, CrashDuringSaveLeavesTheOldFileWhole) {
  const QString path = PathOf("prefs.ini");
  const Bytes old = "[KAVO]\r\nact=1\r\n; mine\r\n";
  WriteAll(path, old);
  const Bytes replacement = "[KAVO]\r\nact=0\r\n" + Bytes(100000, 'x') + "\r\n";

  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    std::string error;
    WriteFileAtomically(path, replacement, &error, [] { _exit(42); });
    _exit(1);  // not reached when the hook runs
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  EXPECT_EQ(ReadAll(path), old);

  std::string error;
  EXPECT_TRUE(WriteFileAtomically(path, replacement, &error)) << error;
  EXPECT_EQ(ReadAll(path), replacement);
}

}  // namespace
}  // namespace quorvel
