// Launching: executables start directly, other files and URLs go to the desktop's programs.

#include "app/shell_exec.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/url_recorder.h"

namespace quorvel::testing {
namespace {

QString WriteFile(const QString& path, const QByteArray& content, bool executable) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
  file.close();
  if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
  return path;
}

TEST(ShellExec, StartsAnExecutableInTheGivenFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  UrlRecorder desktop(QStringLiteral("file"));
  const QString script =
      WriteFile(dir.filePath(QStringLiteral("client.sh")), "#!/bin/sh\necho ran > started\n", true);

  EXPECT_TRUE(ShellExec(script, dir.path()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("started")); }, 10000));
  EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST(ShellExec, OpensOtherFilesAndUrlsWithTheDesktopsPrograms) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  UrlRecorder files(QStringLiteral("file"));
  UrlRecorder web(QStringLiteral("https"));
  const QString document = WriteFile(dir.filePath(QStringLiteral("notes.txt")), "x", false);

  EXPECT_TRUE(ShellExec(document));
  EXPECT_TRUE(ShellExec(dir.path()));  // a folder: opened, not run
  EXPECT_TRUE(ShellExec(QStringLiteral("https://example.org/im")));
  ASSERT_EQ(files.opened.size(), 2);
  EXPECT_EQ(files.opened[0].toLocalFile(), document);
  EXPECT_EQ(files.opened[1].toLocalFile(), dir.path());
  ASSERT_EQ(web.opened.size(), 1);
  EXPECT_EQ(web.opened[0].toString(), "https://example.org/im");
}

TEST(ShellExec, NothingHappensForAMissingOrEmptyName) {
  UrlRecorder files(QStringLiteral("file"));
  for (const char* name : {"", "   ", "/no/such/client", "no-such-client", "C:\\im\\client.exe"}) {
    EXPECT_FALSE(ShellExec(QString::fromLatin1(name))) << name;
  }
  EXPECT_TRUE(files.opened.isEmpty());
}

}  // namespace
}  // namespace quorvel::testing
