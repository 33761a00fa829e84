#include "settings/prefs_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <string>
#include <tuple>

#include "settings/ini_file.h"
#include "settings/original_prefs.h"
#include "settings/test_files.h"

namespace quorvel {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using quorvel::testing::kOriginalPrefs;
using quorvel::testing::ReadBytes;

class PrefsTest : public ::testing::Test {
 protected:
  // The path of `name` in the test's folder; the file then holds `text` when given.
  QString File(const char* name, std::optional<BytesView> text = {}) {
    const QString path = dir_.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(!text || WriteFileAtomically(path, *text, nullptr));
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(PrefsTest, OriginalFileLoadsAndIsWrittenBackUnchanged) {
  PrefsStore store(File("prefs.ini", kOriginalPrefs));
  ::testing::internal::CaptureStderr();
  const Preferences p = store.Load();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(store.FileFound());
  EXPECT_EQ(std::tie(p.port, p.minimizeToTray, p.bindAddress, p.awayUpdates, p.awayUsesOwnMessage,
                     p.launchPath, p.intervalSpin, p.bufferText, p.blockToken, p.block),
            std::make_tuple("4000", 0, "127.0.0.1", 0, false, "C:\\Programme\\M\xFCller\\aim.exe",
                            22767, "\xAB%a\xBB", "%block", "Caf\xE9:\xA0\r\n%a - %s\r\n"));
  std::string fields;  // token, case, length, pad, justification of each media field
  for (const FieldPrefs& f : p.fields)
    fields += f.token + ' ' + std::to_string(f.caseIndex) + ' ' + f.length + ' ' + f.pad + ' ' +
              f.justification + ';';
  // The album's row, which such files lack, keeps its defaults.
  EXPECT_EQ(fields,
            "%A 2 20 _ Left;%S -1 30 - Left;%P 1 0 . Center;%T 0 5 0 Right;%X 3 6 0 Center;"
            "%l 0 0 _ Center;");

  // A run that changed nothing writes the file back byte for byte: no key is added to it.
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(store.Save(i == 0 ? p : store.Load()));
    EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs);
  }
  // A key that such files lack is added once its value differs from the default, and kept
  // where it stands from then on, even when set back to the default.
  Preferences changed = store.Load();
  changed.bindAddress = "127.0.0.2";
  ASSERT_TRUE(store.Save(changed));
  EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs + "bind=127.0.0.2\r\n");
  changed.bindAddress = "127.0.0.1";
  ASSERT_TRUE(store.Save(changed));
  EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs + "bind=127.0.0.1\r\n");
  // New keys go after the old ones of their section.
  changed.sendOnChange = false;
  changed.Field(MediaField::kAlbum).token = "%L";
  changed.Field(MediaField::kAlbum).justification = "Right";
  changed.player = "vlc";
  changed.ignorePlayers = "firefox, chromium";
  changed.autostart = true;
  ASSERT_TRUE(store.Save(changed));
  Bytes expected = kOriginalPrefs +
                   "bind=127.0.0.1\r\nsendOnChange=False\r\nplayer=vlc\r\n"
                   "ignorePlayers=firefox, chromium\r\nautostart=True\r\n";
  expected.insert(expected.find("[prefs]"), "album=%L\r\nalbumJ=Right\r\n");
  EXPECT_EQ(ReadBytes(store.Path()), expected);
  const Preferences again = store.Load();
  EXPECT_EQ(std::tie(again.Field(MediaField::kAlbum).token, again.Field(MediaField::kAlbum).length,
                     again.player, again.ignorePlayers, again.autostart, again.sendOnChange),
            std::make_tuple("%L", "0", "vlc", "firefox, chromium", true, false));
}

TEST_F(PrefsTest, FileFromNothingHoldsEveryKeyInSaveOrderAndReadsBack) {
  PrefsStore store(File("new/sub/prefs.ini"));  // folders are created
  Preferences prefs = store.Load();
  EXPECT_FALSE(store.FileFound());
  const Bytes tail(2000, 'x');  // no length limit on a value
  prefs.block = "a<BR>b<br>c\r\nd\ne\rf\r\n[prefs]\nport=1\r\n" + tail;
  prefs.Field(MediaField::kSong).pad = " ";
  prefs.Field(MediaField::kTotalTime).caseIndex = -1;  // a typed case, no item chosen
  prefs.intervalSpin = kSpinMax;                       // an interval of 0
  prefs.awayUsesOwnMessage = false;
  prefs.enabled = 0;
  ASSERT_TRUE(store.Save(prefs));
  // Every line break of the block, lone or not, is stored as "<BR>": the block stays one line.
  EXPECT_EQ(
      ReadBytes(store.Path()),
      "[KAVO]\r\nrepBufferCheck=0\r\nrepBufferText=Text1\r\nreplaceII=What You Want Replaced\r\n"
      "replaceIIblock=a<BR>b<br>c<BR>d<BR>e<BR>f<BR>[prefs]<BR>port=1<BR>" +
          tail +
          "\r\nprofileact=1\r\nawayact=1\r\nawaypref=False\r\nlaunchcheck=0\r\nlaunchpath=\r\n"
          "limit=0\r\nartistJ=Center\r\ntimeJ=Center\r\nttimeJ=Center\r\nsongJ=Center\r\n"
          "statusJ=Center\r\nartistW=_\r\ntimeW=_\r\nttimeW=_\r\nsongW=\" \"\r\nstatusW=_\r\n"
          "artist=%a\r\nsong=%s\r\ntime=%t\r\nttime=%x\r\nstatus=%p\r\n"
          "artistN=0\r\ntimeN=0\r\nttimeN=0\r\nsongN=0\r\nstatusN=0\r\nartistF=0\r\n"
          "timeF=0\r\nttimeF=-1\r\nsongF=0\r\nstatusF=0\r\nupdateT=32767\r\nact=0\r\n"
          "[prefs]\r\nport=3131\r\nminimize=1\r\n");
  ::testing::internal::CaptureStderr();
  const Preferences p = store.Load();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(p.block, "a\r\nb<br>c\r\nd\r\ne\r\nf\r\n[prefs]\r\nport=1\r\n" + tail);
  EXPECT_EQ(
      std::make_tuple(p.Field(MediaField::kSong).pad, p.Field(MediaField::kTotalTime).caseIndex,
                      p.IntervalMs(), p.awayUsesOwnMessage, p.enabled, p.port),
      std::make_tuple(" ", -1, 0, false, 0, "3131"));
}

TEST_F(PrefsTest, EachRefusedValueIsReportedOnceWithTheFileItCameFrom) {
  const QString path = File("prefs.ini", "[KAVO]\nupdateT=abc\nact=0\n[prefs]\nport=0\n");
  ::testing::internal::CaptureStderr();
  const Preferences p = PrefsStore(path).Load();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "quorvel: " + path.toStdString() +
                ": [KAVO] updateT=\"abc\" is not a whole number from 0 to 32767; keeping 27767\n"
                "quorvel: " +
                path.toStdString() +
                ": [prefs] port=\"0\" is not a port from 1 to 65535; keeping 3131\n");
  EXPECT_EQ(std::tie(p.intervalSpin, p.enabled, p.port), std::make_tuple(27767, 0, "3131"));
}

TEST_F(PrefsTest, UnknownLinesSurviveASaveAndLfStaysLf) {
  PrefsStore store(
      File("prefs.ini",
           "\xEF\xBB\xBF[KAVO]\n; my notes\nact=1\nfuture=keep me\n\n[Other]\n"
           "artist=not ours\njunk without equals\n[prefs]\nPort = 4000\n\n[kavo]\nact=0"));
  Preferences p = store.Load();
  p.port = "5000";
  ASSERT_TRUE(store.Save(p));
  // Every line kept in order, the port changed in place, new keys after the last filled line.
  EXPECT_THAT(
      ReadBytes(store.Path()),
      AllOf(StartsWith("\xEF\xBB\xBF[KAVO]\n; my notes\nact=1\nfuture=keep me\nrepBufferCheck=0\n"),
            EndsWith("updateT=27767\n\n[Other]\nartist=not ours\njunk without equals\n[prefs]\n"
                     "Port =5000\nminimize=1\n\n[kavo]\nact=0"),
            Not(HasSubstr("\r"))));
  // Only the first section of a name counts, and "artist" of another program is not ours.
  const Preferences again = store.Load();
  EXPECT_EQ(std::tie(again.enabled, again.Field(MediaField::kArtist).token),
            std::make_tuple(1, ""));
}

// Pads of blanks, and texts in quotes, come back as they were after restarts; a line that already
// reads as the value is left as it stands.
TEST_F(PrefsTest, BlanksAndQuotesSurviveRestarts) {
  const Bytes lines = "[KAVO]\r\nartistW=\" \"\r\nsongW = '-' \r\nstatusW=\r\n";
  PrefsStore store(File("prefs.ini", lines));
  Preferences p = store.Load();
  ASSERT_TRUE(store.Save(p));
  EXPECT_THAT(ReadBytes(store.Path()), StartsWith(lines));
  for (int restart = 0; restart < 2; ++restart) {
    p = store.Load();
    p.Field(MediaField::kSong).pad = "  ";
    p.Field(MediaField::kStatus).pad = "\"";
    p.Field(MediaField::kTime).pad = "'.'";
    p.bufferText = " [x] ";
    ASSERT_TRUE(store.Save(p));
  }
  p = store.Load();
  EXPECT_EQ(
      std::tie(p.Field(MediaField::kArtist).pad, p.Field(MediaField::kSong).pad,
               p.Field(MediaField::kStatus).pad, p.Field(MediaField::kTime).pad, p.bufferText),
      std::make_tuple(" ", "  ", "\"", "'.'", " [x] "));
  EXPECT_THAT(ReadBytes(store.Path()), HasSubstr("\r\nsongW =\"  \"\r\n"));
}

TEST_F(PrefsTest, StartsFromTheSeedAndSavesItsLinesToItsOwnFile) {
  const QString seed = File("seed.ini", kOriginalPrefs);
  PrefsStore store(PrefsLocation{dir_.filePath(QStringLiteral("home/prefs.ini")), seed});
  EXPECT_EQ(store.SourcePath(), seed);
  ASSERT_TRUE(store.Check());
  Preferences p = store.Load();
  EXPECT_TRUE(store.FileFound());
  EXPECT_EQ(p.port, "4000");
  ASSERT_TRUE(store.Save(p));
  EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs);
  // From then on the own file counts; the seed is never written.
  p.port = "4001";
  ASSERT_TRUE(store.Save(p));
  EXPECT_EQ(store.SourcePath(), store.Path());
  EXPECT_EQ(store.Load().port, "4001");
  EXPECT_EQ(ReadBytes(seed), kOriginalPrefs);
}

// What stands at the settings path (made there by `make`), and the words the refusal must hold.
struct Unusable {
  const char* name;
  std::function<bool(const QString& path)> make;
  const char* says;
};

class UnusableSettingsPath : public PrefsTest, public ::testing::WithParamInterface<Unusable> {};

TEST_P(UnusableSettingsPath, IsRefusedAtOnceNamingThePathAndNeverReplaced) {
  const QString path = File("prefs.ini");
  ASSERT_TRUE(GetParam().make(path));
  PrefsStore store(path);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(store.Check());  // returns at once: a FIFO without a writer does not block it
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(said, AllOf(HasSubstr(path.toStdString() + ": "), HasSubstr(GetParam().says)));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(store.Load().port, "3131");
  EXPECT_FALSE(store.Save(Preferences()));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("not saved"));
  EXPECT_FALSE(QFileInfo(path).isFile() && QFileInfo(path).size() < 1000);  // not replaced
}

INSTANTIATE_TEST_SUITE_P(
    Settings, UnusableSettingsPath,
    ::testing::Values(
        Unusable{"Fifo",
                 [](const QString& path) {
                   return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
                 },
                 "is a FIFO"},
        Unusable{"LinkToDevZero",
                 [](const QString& path) { return QFile::link(QStringLiteral("/dev/zero"), path); },
                 "is a device"},
        Unusable{"Folder", [](const QString& path) { return QDir().mkdir(path); }, "is a folder"},
        Unusable{"Huge",  // sparse: costs no disk
                 [](const QString& path) {
                   QFile file(path);
                   return file.open(QIODevice::WriteOnly) && file.resize(kMaxIniFileBytes + 1);
                 },
                 "larger than 16 MiB"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(PrefsTest, UnreadableOrUnwritableFileIsReportedAndNotReplaced) {
  const QString blocker = File("plain-file", "x");
  QString unreadable = File("unreadable.ini", "[prefs]\nport=4000\n");
  ASSERT_TRUE(QFile::setPermissions(unreadable, {}));
  QStringList paths = {blocker + QStringLiteral("/prefs.ini")};
  if (!QFile(unreadable).open(QIODevice::ReadOnly)) paths << unreadable;  // the superuser reads all
  for (const QString& path : paths) {
    PrefsStore store(path);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(store.Load().port, "3131");
    EXPECT_FALSE(store.Save(Preferences()));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("not saved"));
  }
  EXPECT_EQ(ReadBytes(blocker), "x");
}

TEST_F(PrefsTest, CrashDuringSaveLeavesTheOldFileWhole) {
  const QString path = File("prefs.ini", "[KAVO]\r\nact=1\r\n");
  const pid_t child = fork();
  if (child == 0) {
    WriteFileAtomically(path, Bytes(100000, 'x'), nullptr, [] { _exit(42); });
    _exit(1);  // not reached when the hook runs
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << status;
  EXPECT_EQ(ReadBytes(path), "[KAVO]\r\nact=1\r\n");
}

}  // namespace
}  // namespace quorvel
