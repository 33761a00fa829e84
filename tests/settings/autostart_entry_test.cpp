// The autostart entry: written and removed under a temporary configuration folder, the program's
// path quoted so that a desktop reads back exactly that path, failures reported.
#include "settings/autostart_entry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>

namespace quorvel {
namespace {

constexpr char kEntryName[] = "/autostart/org.quorvel.Quorvel.desktop";

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The program that a desktop runs for the Exec value `value`: the key's string escapes undone,
// then the one quoted argument unquoted and "%%" read as "%". Nothing when the value is not one
// argument quoted by the rules, or holds a field code.
std::optional<QString> ExecProgram(const QString& value) {
  QString unescaped;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != u'\\') {
      unescaped += value[i];
    } else if (++i < value.size()) {
      const QChar c = value[i];
      unescaped += c == u's'   ? QChar(u' ')
                   : c == u'n' ? QChar(u'\n')
                   : c == u't' ? QChar(u'\t')
                               : c;
    }
  }
  if (unescaped.size() < 2 || !unescaped.startsWith(u'"') || !unescaped.endsWith(u'"')) {
    return std::nullopt;
  }
  QString program;
  for (qsizetype i = 1; i + 1 < unescaped.size(); ++i) {
    const QChar c = unescaped[i];
    if (c == u'\\') {
      const QChar next = unescaped[++i];
      if (i + 1 >= unescaped.size() || !QStringLiteral("\"`$\\").contains(next)) return {};
      program += next;
    } else if (c == u'%') {
      if (unescaped[++i] != u'%') return std::nullopt;  // a field code
      program += c;
    } else if (c == u'"' || c == u'`' || c == u'$') {
      return std::nullopt;  // ends the quoting or is expanded
    } else {
      program += c;
    }
  }
  return program;
}

// A verdict of desktop-file-validate on `path`: empty when it accepts the file or is not there.
QString ValidatorComplaints(const QString& path) {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) return {};
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(validator, {path});
  if (!process.waitForFinished(10000)) return QStringLiteral("desktop-file-validate hung");
  const QString output = QString::fromUtf8(process.readAll());
  return process.exitCode() == 0 && !output.contains(QStringLiteral("error"))
             ? QString()
             : output + QStringLiteral(" (exit %1)").arg(process.exitCode());
}

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) saved_.emplace_back(name, qgetenv(name));
    qputenv("HOME", dir_.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", Config().toUtf8());
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value.isNull()) {
        qunsetenv(name);
      } else {
        qputenv(name, value);
      }
    }
  }
  QString Config() const { return dir_.filePath(QStringLiteral("config")); }

  QTemporaryDir dir_;
  std::vector<std::pair<const char*, QByteArray>> saved_;
};

TEST_F(AutostartTest, WritesTheEntryWhereTheDesktopLooksAndRemovesIt) {
  const QString entry = Config() + QLatin1String(kEntryName);
  EXPECT_EQ(AutostartEntryPath(), entry);
  QString error;
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/opt/old/quorvel"), &error))
      << error.toStdString();
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error))
      << error.toStdString();
  EXPECT_EQ(ReadAll(entry).toStdString(),
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
    const QString text = QString::fromUtf8(ReadAll(AutostartEntryPath()));
    const qsizetype exec = text.indexOf(QStringLiteral("\nExec=")) + 6;
    const QString value = text.mid(exec, text.indexOf(u'\n', exec) - exec);
    EXPECT_EQ(ExecProgram(value), std::optional<QString>(program)) << value.toStdString();
    EXPECT_EQ(ValidatorComplaints(AutostartEntryPath()).toStdString(), "");
  }
  // A path the key cannot name: the entry is left as it was.
  const QByteArray before = ReadAll(AutostartEntryPath());
  for (const char* path : {"quorvel", "bin/quorvel", "", "/a\nb", "/a\tb", "/a=b"}) {
    EXPECT_EQ(AutostartEntryText(QString::fromUtf8(path)), std::nullopt) << path;
    QString error;
    EXPECT_FALSE(WriteAutostart(true, QString::fromUtf8(path), &error)) << path;
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be written"))) << error.toStdString();
  }
  EXPECT_EQ(ReadAll(AutostartEntryPath()), before);
}

TEST_F(AutostartTest, FailuresAreReportedNotHidden) {
  // A plain file where the autostart folder should be: nothing can be created in it.
  QFile blocker(Config() + QStringLiteral("/autostart"));
  ASSERT_TRUE(QDir().mkpath(Config()));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QString error;
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot create the folder"))) << error.toStdString();
  EXPECT_TRUE(WriteAutostart(false, {}, &error)) << "no entry there to remove";
  ASSERT_TRUE(blocker.remove());

  // A folder (not empty) where the entry should be: neither written over nor removed, whoever
  // runs the test.
  ASSERT_TRUE(QDir().mkpath(AutostartEntryPath() + QStringLiteral("/inside")));
  error.clear();
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write"))) << error.toStdString();
  error.clear();
  EXPECT_FALSE(WriteAutostart(false, {}, &error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot remove"))) << error.toStdString();
  EXPECT_TRUE(QDir(AutostartEntryPath() + QStringLiteral("/inside")).exists());
}

}  // namespace
}  // namespace quorvel
