// The files the settings live in: prefs.ini (where it lives, what a load reads and a save
// writes, files that must be refused or left whole) and the autostart entry, written and removed
// under a temporary configuration folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <tuple>

#include "settings/autostart_entry.h"
#include "settings/ini_file.h"
#include "settings/original_prefs.h"
#include "settings/prefs_location.h"
#include "settings/prefs_store.h"
#include "settings/test_files.h"

namespace quorvel::testing {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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
  const Preferences p = store.Load();
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
  changed.bindAddress = "127.0.0.1";
  ASSERT_TRUE(store.Save(changed));
  EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs + "bind=127.0.0.1\r\n");
  // New keys go after the old ones of their section.
  changed.sendOnChange = false;
  changed.Field(MediaField::kAlbum).token = "%L";
  changed.autostart = true;
  ASSERT_TRUE(store.Save(changed));
  Bytes expected = kOriginalPrefs + "bind=127.0.0.1\r\nsendOnChange=False\r\nautostart=True\r\n";
  expected.insert(expected.find("[prefs]"), "album=%L\r\n");
  EXPECT_EQ(ReadBytes(store.Path()), expected);
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
  const Preferences p = store.Load();
  EXPECT_EQ(p.block, "a\r\nb<br>c\r\nd\r\ne\r\nf\r\n[prefs]\r\nport=1\r\n" + tail);
  EXPECT_EQ(std::make_tuple(p.Field(MediaField::kSong).pad,
                            p.Field(MediaField::kTotalTime).caseIndex, p.IntervalMs()),
            std::make_tuple(" ", -1, 0));
  // A folder that cannot be made (not even by the superuser): the save is said to have failed.
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(PrefsStore(QStringLiteral("/proc/quorvel-none/prefs.ini")).Save(p));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("settings not saved"));
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

TEST_F(PrefsTest, BesideTheProgramOnlyWhenAWritableFileIsThereElseTheConfigFolder) {
  const QString program = File("bin"), config = File("config");
  const QString beside = program + "/prefs.ini", mine = config + "/prefs.ini";
  ASSERT_TRUE(QDir().mkpath(program));
  const auto where = [&](const QString& named = {}) {
    const PrefsLocation at = ChoosePrefsLocation(named, program, config);
    return (at.path + '|' + at.seedPath).toStdString();
  };
  // An installed program: nothing beside it, even where it could create a file.
  EXPECT_EQ(where(), (mine + '|').toStdString());
  EXPECT_TRUE(QDir(program).entryList(QDir::Files | QDir::Hidden).isEmpty());  // probe removed
  // A portable copy: its own file beside it.
  ASSERT_TRUE(WriteBytes(beside, ""));
  EXPECT_EQ(where(), (beside + '|').toStdString());
  // A file there that cannot be written gives the starting values of a file of one's own.
  ASSERT_TRUE(QFile::setPermissions(beside, QFileDevice::ReadOwner | QFileDevice::ReadOther));
  if (!QFileInfo(beside).isWritable()) {  // the superuser may write anyway
    EXPECT_EQ(where(), (mine + '|' + beside).toStdString());
  }
  // --prefs wins, made absolute.
  EXPECT_EQ(where(File("named.ini")), (File("named.ini") + '|').toStdString());
  EXPECT_EQ(where("rel.ini"), (QDir::current().filePath("rel.ini") + '|').toStdString());

  // The seed's lines start the own file; from then on the own file counts, the seed never written.
  const QString seed = File("seed.ini", kOriginalPrefs);
  PrefsStore store(PrefsLocation{dir_.filePath(QStringLiteral("home/prefs.ini")), seed});
  Preferences p = store.Load();
  ASSERT_TRUE(store.Save(p));
  EXPECT_EQ(ReadBytes(store.Path()), kOriginalPrefs);
  p.port = "4001";
  ASSERT_TRUE(store.Save(p));
  EXPECT_EQ(store.Load().port, "4001");
  EXPECT_EQ(ReadBytes(seed), kOriginalPrefs);
}

// What stands at the settings path, and the words a check refuses it with. Nothing is replaced,
// and nothing blocks (a FIFO without a writer, /dev/zero, a sparse file of 16 MiB and more).
TEST_F(PrefsTest, UnusableFileIsRefusedAtOnceNamingThePathAndNeverReplaced) {
  const QString d = dir_.path();
  ASSERT_EQ(::mkfifo(QFile::encodeName(d + "/fifo").constData(), 0600), 0);
  ASSERT_TRUE(QFile::link("/dev/zero", d + "/zero") && QDir(d).mkdir("sub"));
  QFile huge(d + "/huge");
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxIniFileBytes + 1));
  const QString unreadable = File("unreadable", "[prefs]\nport=4000\n"), plain = File("plain", "x");
  ASSERT_TRUE(QFile::setPermissions(unreadable, {}));
  const std::pair<QString, const char*> rows[] = {
      {d + "/fifo", "is a FIFO"},     {d + "/zero", "is a device"},
      {d + "/sub", "is a folder"},    {d + "/huge", "larger than 16 MiB"},
      {unreadable, "cannot be read"}, {plain + "/prefs.ini", "cannot be read"}};
  for (const auto& [path, says] : rows) {
    SCOPED_TRACE(path.toStdString());
    if (path == unreadable && QFile(path).open(QIODevice::ReadOnly)) continue;  // the superuser
    const auto state = [&] {
      const QFileInfo info(path), parent(QFileInfo(path).path());
      return std::make_tuple(info.exists(), info.isFile(), info.size(), parent.isFile());
    };
    const auto before = state();
    PrefsStore store(path);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(store.Check());
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                AllOf(HasSubstr(path.toStdString() + ": "), HasSubstr(says)));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(store.Load().port, "3131");
    EXPECT_FALSE(store.Save(Preferences()));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("not saved"));
    EXPECT_EQ(state(), before);
  }
}

TEST_F(PrefsTest, CrashDuringSaveLeavesTheOldFileWhole) {
  const QString path = File("prefs.ini", "[KAVO]\r\nact=1\r\n");
  // The hook ends a child process in the middle of the write.
  EXPECT_EXIT(WriteFileAtomically(path, Bytes(100000, 'x'), nullptr, [] { _exit(42); }),
              ::testing::ExitedWithCode(42), "");
  EXPECT_EQ(ReadBytes(path), "[KAVO]\r\nact=1\r\n");
}

// What desktop-file-validate says against the entry: empty when it accepts it or is not there.
std::string ValidatorComplaints() {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) return {};
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(validator, {AutostartEntryPath()});
  if (!process.waitForFinished(10000)) return "desktop-file-validate hung";
  const std::string output = process.readAll().toStdString();
  return process.exitCode() == 0 && output.find("error") == output.npos ? "" : output;
}

class AutostartTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  const QString config_ = dir_.filePath(QStringLiteral("config"));
  ScopedEnvironment configHome_{"XDG_CONFIG_HOME", config_};
  QString error_;
};

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
    ASSERT_TRUE(WriteAutostart(true, QString::fromUtf8(path), &error_)) << error_.toStdString();
    EXPECT_NE(ReadBytes(AutostartEntryPath()).find("\nExec=" + std::string(exec) + "\n"),
              Bytes::npos)
        << ReadBytes(AutostartEntryPath());
    EXPECT_EQ(ValidatorComplaints(), "");
  }
  // A path the key cannot name: the entry is left as it was.
  const Bytes before = ReadBytes(AutostartEntryPath());
  for (const char* path : {"quorvel", "bin/quorvel", "", "/a\nb", "/a\tb", "/a=b"}) {
    EXPECT_FALSE(WriteAutostart(true, QString::fromUtf8(path), &error_)) << path;
    EXPECT_TRUE(error_.contains(QStringLiteral("cannot be written"))) << error_.toStdString();
  }
  EXPECT_EQ(ReadBytes(AutostartEntryPath()), before);

  // Where the desktop looks, the whole entry replaced; then removed, twice.
  const QString entry = config_ + "/autostart/org.quorvel.Quorvel.desktop";
  EXPECT_EQ(AutostartEntryPath(), entry);
  ASSERT_TRUE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error_));
  EXPECT_EQ(ReadBytes(entry),
            "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=\"/usr/bin/quorvel\"\n"
            "Icon=org.quorvel.Quorvel\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(ValidatorComplaints(), "");
  EXPECT_TRUE(WriteAutostart(false, {}, &error_));
  EXPECT_FALSE(QFile::exists(entry));
  EXPECT_TRUE(WriteAutostart(false, {}, &error_)) << "an entry already gone counts as removed";
}

TEST_F(AutostartTest, FailuresAreReportedNotHidden) {
  // A plain file where the autostart folder should be: nothing can be created in it.
  ASSERT_TRUE(QDir().mkpath(config_) && WriteBytes(config_ + "/autostart", ""));
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error_));
  EXPECT_TRUE(error_.startsWith(QStringLiteral("Cannot create the folder")))
      << error_.toStdString();
  EXPECT_TRUE(WriteAutostart(false, {}, &error_)) << "no entry there to remove";
  ASSERT_TRUE(QFile::remove(config_ + "/autostart"));

  // A folder (not empty) where the entry should be: neither written over nor removed, whoever
  // runs the test.
  ASSERT_TRUE(QDir().mkpath(AutostartEntryPath() + QStringLiteral("/inside")));
  EXPECT_FALSE(WriteAutostart(true, QStringLiteral("/usr/bin/quorvel"), &error_));
  EXPECT_TRUE(error_.startsWith(QStringLiteral("Cannot write"))) << error_.toStdString();
  EXPECT_FALSE(WriteAutostart(false, {}, &error_));
  EXPECT_TRUE(error_.startsWith(QStringLiteral("Cannot remove"))) << error_.toStdString();
  EXPECT_TRUE(QDir(AutostartEntryPath() + QStringLiteral("/inside")).exists());
}

}  // namespace
}  // namespace quorvel::testing
