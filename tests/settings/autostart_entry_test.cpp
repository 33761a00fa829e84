// The autostart entry: written and removed under a temporary configuration folder, the program's
// path quoted so that a desktop reads back exactly that path, failures reported.
#include "settings/autostart_entry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

// What desktop-file-validate says against `path`: empty when it accepts the file or is not there.
std::string ValidatorComplaints(const QString& path) {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) return {};
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(validator, {path});
  if (!process.waitForFinished(10000)) return "desktop-file-validate hung";
  const std::string output = process.readAll().toStdString();
  return process.exitCode() == 0 && output.find("error") == output.npos ? "" : output;
}

class AutostartTest : public ::testing::Test {
 protected:
  QString Config() const { return dir_.filePath(QStringLiteral("config")); }
  QTemporaryDir dir_;
  ScopedEnvironment config_{"XDG_CONFIG_HOME", Config()};
};

TEST_F(AutostartTest, WritesTheEntryWhereTheDesktopLooksAndRemovesIt) {
  const QString entry = Config() + "/autostart/org.quorvel.Quorvel.desktop";
  EXPECT_EQ(AutostartEntryPath(), entry);
  QString error;
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/opt/old/quorvel"), &error));
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error))
      << error.toStdString();
  EXPECT_EQ(ReadBytes(entry),
            "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=\"/usr/bin/quorvel\"\n"
            "Icon=org.quorvel.Quorvel\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(ValidatorComplaints(entry), "");
  EXPECT_TRUE(WriteAutostart(false, {}, &error));
  EXPECT_FALSE(QFile::exists(entry));
  EXPECT_TRUE(WriteAutostart(false, {}, &error)) << "an entry already gone counts as removed";
}

// The Exec value is the path as one argument in double quotes, '"', '`', '$' and '\' escaped by
// a backslash and '%' doubled, then every backslash doubled for the key's own string escapes.
TEST_F(AutostartTest, AnyAbsolutePathIsQuotedToReadBackAsItselfAndOthersAreRefused) {
  const std::pair<const char*, const char*> quoted[] = {
      {R"(/home/a b/$HOME/quorvel)", R"("/home/a b/\\$HOME/quorvel")"},
      {R"(/x/\y\\z)", R"("/x/\\\\y\\\\\\\\z")"},
      {R"(/q"uote/`tick`)", R"("/q\\"uote/\\`tick\\`")"},
      {"/100%/%u/%%", R"("/100%%/%%u/%%%%")"},
      {"/semi;colon/(paren)/*?#~|&<>'", R"("/semi;colon/(paren)/*?#~|&<>'")"},
      {"/ünï/cödé", R"("/ünï/cödé")"}};
  for (const auto& [path, exec] : quoted) {
    SCOPED_TRACE(path);
    QString error;
    ASSERT_TRUE(WriteAutostart(true, QString::fromUtf8(path), &error)) << error.toStdString();
    EXPECT_NE(ReadBytes(AutostartEntryPath()).find("\nExec=" + std::string(exec) + "\n"),
              Bytes::npos)
        << ReadBytes(AutostartEntryPath());
    EXPECT_EQ(ValidatorComplaints(AutostartEntryPath()), "");
  }
  // A path the key cannot name: the entry is left as it was.
  const Bytes before = ReadBytes(AutostartEntryPath());
  for (const char* path : {"quorvel", "bin/quorvel", "", "/a\nb", "/a\tb", "/a=b"}) {
    QString error;
    EXPECT_FALSE(WriteAutostart(true, QString::fromUtf8(path), &error)) << path;
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be written"))) << error.toStdString();
  }
  EXPECT_EQ(ReadBytes(AutostartEntryPath()), before);
}

TEST_F(AutostartTest, FailuresAreReportedNotHidden) {
  // A plain file where the autostart folder should be: nothing can be created in it.
  ASSERT_TRUE(QDir().mkpath(Config()) && WriteBytes(Config() + "/autostart", ""));
  QString error;
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot create the folder"))) << error.toStdString();
  EXPECT_TRUE(WriteAutostart(false, {}, &error)) << "no entry there to remove";
  ASSERT_TRUE(QFile::remove(Config() + "/autostart"));

  // A folder (not empty) where the entry should be: neither written over nor removed, whoever
  // runs the test.
  ASSERT_TRUE(QDir().mkpath(AutostartEntryPath() + QStringLiteral("/inside")));
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write"))) << error.toStdString();
  EXPECT_FALSE(WriteAutostart(false, {}, &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot remove"))) << error.toStdString();
  EXPECT_TRUE(QDir(AutostartEntryPath() + QStringLiteral("/inside")).exists());
}

}  // namespace
}  // namespace quorvel::testing
