// The autostart entry: written and removed under a temporary configuration folder, the program's
// path quoted so that a desktop reads back exactly that path, failures reported.
#include "settings/autostart_entry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>

#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

constexpr char kEntryName[] = "/autostart/org.quorvel.Quorvel.desktop";

// The program that a desktop runs for the Exec value `value`: the key's string escapes undone,
// then the one quoted argument unquoted and "%%" read as "%". Nothing when the value is not one
// argument quoted by the rules, or holds a field code.
std::optional<QString> ExecProgram(const QString& value) {
  QString text;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != u'\\') {
      text += value[i];
    } else if (++i < value.size()) {
      const QChar c = value[i];
      text += c == u's' ? QChar(u' ') : c == u'n' ? QChar(u'\n') : c == u't' ? QChar(u'\t') : c;
    }
  }
  if (text.size() < 2 || !text.startsWith(u'"') || !text.endsWith(u'"')) return std::nullopt;
  QString program;
  for (qsizetype i = 1; i + 1 < text.size(); ++i) {
    QChar c = text[i];
    if (c == u'\\' || c == u'%') {
      const QChar next = text[++i];
      const bool escaped = c == u'%' ? next == u'%' : QStringLiteral("\"`$\\").contains(next);
      if (i + 1 >= text.size() || !escaped) return std::nullopt;  // a field code, a stray '\'
      c = next;
    } else if (c == u'"' || c == u'`' || c == u'$') {
      return std::nullopt;  // ends the quoting or is expanded
    }
    program += c;
  }
  return program;
}

// What desktop-file-validate says against `path`: empty when it accepts the file or is not there.
QString ValidatorComplaints(const QString& path) {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) return {};
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(validator, {path});
  if (!process.waitForFinished(10000)) return QStringLiteral("desktop-file-validate hung");
  const QString output = QString::fromUtf8(process.readAll());
  return process.exitCode() == 0 && !output.contains(QStringLiteral("error")) ? QString() : output;
}

class AutostartTest : public ::testing::Test {
 protected:
  QString Config() const { return dir_.filePath(QStringLiteral("config")); }
  QTemporaryDir dir_;
  ScopedEnvironment home_{"HOME", dir_.filePath(QStringLiteral("home"))};
  ScopedEnvironment config_{"XDG_CONFIG_HOME", Config()};
};

TEST_F(AutostartTest, WritesTheEntryWhereTheDesktopLooksAndRemovesIt) {
  const QString entry = Config() + QLatin1String(kEntryName);
  EXPECT_EQ(AutostartEntryPath(), entry);
  QString error;
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/opt/old/quorvel"), &error));
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error))
      << error.toStdString();
  EXPECT_EQ(ReadBytes(entry),
            "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=\"/usr/bin/quorvel\"\n"
            "Icon=org.quorvel.Quorvel\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(ValidatorComplaints(entry).toStdString(), "");
  EXPECT_TRUE(WriteAutostart(false, {}, &error));
  EXPECT_FALSE(QFile::exists(entry));
  EXPECT_TRUE(WriteAutostart(false, {}, &error)) << "an entry already gone counts as removed";

  // Without XDG_CONFIG_HOME, the configuration folder is ~/.config.
  qunsetenv("XDG_CONFIG_HOME");
  const QString home = dir_.filePath(QStringLiteral("home/.config")) + QLatin1String(kEntryName);
  EXPECT_EQ(AutostartEntryPath(), home);
  EXPECT_TRUE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error));
  EXPECT_TRUE(QFile::exists(home));
}

TEST_F(AutostartTest, AnyAbsolutePathReadsBackAsItselfAndOthersAreRefused) {
  for (const char* path : {"/home/a b/$HOME/quorvel", "/x/\\y\\\\z", "/q\"uote/`tick`",
                           "/100%/%u/%%", "/semi;colon/(paren)/*?#~|&<>'", "/ünï/cödé"}) {
    SCOPED_TRACE(path);
    const QString program = QString::fromUtf8(path);
    QString error;
    ASSERT_TRUE(WriteAutostart(true, program, &error)) << error.toStdString();
    const QString text = QString::fromStdString(ReadBytes(AutostartEntryPath()));
    const qsizetype exec = text.indexOf(QStringLiteral("\nExec=")) + 6;
    const QString value = text.mid(exec, text.indexOf(u'\n', exec) - exec);
    EXPECT_EQ(ExecProgram(value), std::optional<QString>(program)) << value.toStdString();
    EXPECT_EQ(ValidatorComplaints(AutostartEntryPath()).toStdString(), "");
  }
  // A path the key cannot name: the entry is left as it was.
  const Bytes before = ReadBytes(AutostartEntryPath());
  for (const char* path : {"quorvel", "bin/quorvel", "", "/a\nb", "/a\tb", "/a=b"}) {
    EXPECT_EQ(AutostartEntryText(QString::fromUtf8(path)), std::nullopt) << path;
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
