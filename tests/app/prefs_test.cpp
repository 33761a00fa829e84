#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/prefs_keys.h"
#include "app/prefs_location.h"
#include "app/prefs_store.h"

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

// A file as the original program leaves it: written key by key from nothing, "KAVO" first.
const Bytes kOriginalFile =
    "[KAVO]\r\n"
    "repBufferCheck=1\r\n"
    "repBufferText=[var]\r\n"
    "replaceII=%block\r\n"
    "replaceIIblock=Now playing:<BR>%a - %s<BR>\r\n"
    "profileact=1\r\n"
    "awayact=0\r\n"
    "awaypref=False\r\n"
    "launchcheck=1\r\n"
    "launchpath=C:\\Program Files\\AIM\\aim.exe\r\n"
    "limit=1\r\n"
    "artistJ=Left\r\n"
    "timeJ=Right\r\n"
    "ttimeJ=Center\r\n"
    "songJ=Left\r\n"
    "statusJ=Center\r\n"
    "artistW=_\r\n"
    "timeW=0\r\n"
    "ttimeW=0\r\n"
    "songW=-\r\n"
    "statusW=.\r\n"
    "artist=%A\r\n"
    "song=%S\r\n"
    "time=%T\r\n"
    "ttime=%X\r\n"
    "status=%P\r\n"
    "artistN=20\r\n"
    "timeN=5\r\n"
    "ttimeN=6\r\n"
    "songN=30\r\n"
    "statusN=0\r\n"
    "artistF=2\r\n"
    "timeF=0\r\n"
    "ttimeF=3\r\n"
    "songF=-1\r\n"
    "statusF=1\r\n"
    "updateT=22767\r\n"
    "act=1\r\n"
    "[prefs]\r\n"
    "port=4000\r\n"
    "minimize=0\r\n";

class PrefsTest : public ::testing::Test {
 protected:
  QString PathOf(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  // Saves `prefs` into a fresh file and loads it back.
  Preferences RoundTrip(const Preferences& prefs, Bytes* file = nullptr) {
    const QString path = PathOf("round.ini");
    QFile::remove(path);
    PrefsStore store(path);
    EXPECT_TRUE(store.Save(prefs));
    if (file != nullptr) *file = ReadAll(path);
    Preferences loaded = store.Load();
    EXPECT_TRUE(store.Warnings().empty());
    return loaded;
  }

  // Loads `text` as the whole file.
  Preferences LoadText(BytesView text, PrefsStore** storeOut = nullptr) {
    const QString path = PathOf("load.ini");
    WriteAll(path, text);
    store_ = std::make_unique<PrefsStore>(path);
    if (storeOut != nullptr) *storeOut = store_.get();
    return store_->Load();
  }

  QTemporaryDir dir_;
  std::unique_ptr<PrefsStore> store_;
};

TEST_F(PrefsTest, OriginalFileLoadsInOrderAndIsWrittenBackUnchanged) {
  const QString path = PathOf("prefs.ini");
  WriteAll(path, kOriginalFile);
  PrefsStore store(path);
  std::vector<PrefKey> applied;
  const Preferences p = store.Load([&](PrefKey key) { applied.push_back(key); });
  EXPECT_TRUE(store.FileFound());
  EXPECT_TRUE(store.Warnings().empty());

  EXPECT_EQ(p.port, "4000");
  EXPECT_EQ(p.minimize, 0);
  EXPECT_EQ(p.bind, "127.0.0.1");
  EXPECT_EQ(p.act, 1);
  EXPECT_EQ(p.profileact, 1);
  EXPECT_EQ(p.awayact, 0);
  EXPECT_FALSE(p.awayprefOwnMessage);
  EXPECT_EQ(p.launchcheck, 1);
  EXPECT_EQ(p.launchpath, "C:\\Program Files\\AIM\\aim.exe");
  EXPECT_EQ(p.updateT, 22767);
  EXPECT_EQ(p.IntervalMs(), 10000);
  EXPECT_EQ(p.limit, 1);
  EXPECT_EQ(p.repBufferCheck, 1);
  EXPECT_EQ(p.repBufferText, "[var]");
  EXPECT_EQ(p.replaceII, "%block");
  EXPECT_EQ(p.replaceIIblock, "Now playing:\r\n%a - %s\r\n");
  struct Field {
    const char* token;
    int caseIndex;
    const char* length;
    const char* pad;
    const char* justification;
  };
  const Field expected[] = {{"%A", 2, "20", "_", "Left"},
                            {"%S", -1, "30", "-", "Left"},
                            {"%P", 1, "0", ".", "Center"},
                            {"%T", 0, "5", "0", "Right"},
                            {"%X", 3, "6", "0", "Center"}};
  for (std::size_t i = 0; i < p.fields.size(); ++i) {
    EXPECT_EQ(p.fields[i].token, expected[i].token) << i;
    EXPECT_EQ(p.fields[i].caseIndex, expected[i].caseIndex) << i;
    EXPECT_EQ(p.fields[i].length, expected[i].length) << i;
    EXPECT_EQ(p.fields[i].pad, expected[i].pad) << i;
    EXPECT_EQ(p.fields[i].justification, expected[i].justification) << i;
  }

  // The callback runs once per key, "KAVO" keys in their load order, then "prefs".
  ASSERT_EQ(applied.size(), 40u);
  EXPECT_EQ(applied.front(), PrefKey::kAct);
  EXPECT_EQ(applied[1], PrefKey::kTtimeJ);
  EXPECT_EQ(applied[34], PrefKey::kUpdateT);
  EXPECT_EQ(applied[36], PrefKey::kRepBufferText);
  EXPECT_EQ((std::vector<PrefKey>(applied.begin() + 37, applied.end())),
            (std::vector<PrefKey>{PrefKey::kPort, PrefKey::kMinimize, PrefKey::kBind}));

  // Saving adds only the listener's address after the two known keys; from then on the file is
  // written back byte for byte.
  ASSERT_TRUE(store.Save(p));
  const Bytes withBind = kOriginalFile + "bind=127.0.0.1\r\n";
  EXPECT_EQ(ReadAll(path), withBind);
  ASSERT_TRUE(store.Save(store.Load()));
  EXPECT_EQ(ReadAll(path), withBind);
}

TEST_F(PrefsTest, FileFromNothingHoldsKavoThenPrefsInSaveOrder) {
  const QString path = PathOf("new/sub/prefs.ini");  // folders are created
  PrefsStore store(path);
  const Preferences defaults = store.Load();
  EXPECT_FALSE(store.FileFound());
  ASSERT_TRUE(store.Save(defaults));
  EXPECT_EQ(ReadAll(path),
            "[KAVO]\r\n"
            "repBufferCheck=0\r\n"
            "repBufferText=Text1\r\n"
            "replaceII=What You Want Replaced\r\n"
            "replaceIIblock=A Large Block Of Text<BR>Variables From 'Replace' Work For This<BR>"
            "Multiple Lines Will Show Up Properly In Your Profile / Away<BR>Example:<BR>"
            ":: %a - %s ::<BR>:: %p - %t // %x ::<BR>\r\n"
            "profileact=1\r\nawayact=1\r\nawaypref=True\r\nlaunchcheck=0\r\nlaunchpath=\r\n"
            "limit=0\r\n"
            "artistJ=Center\r\ntimeJ=Center\r\nttimeJ=Center\r\nsongJ=Center\r\nstatusJ=Center\r\n"
            "artistW=_\r\ntimeW=_\r\nttimeW=_\r\nsongW=_\r\nstatusW=_\r\n"
            "artist=%a\r\nsong=%s\r\ntime=%t\r\nttime=%x\r\nstatus=%p\r\n"
            "artistN=0\r\ntimeN=0\r\nttimeN=0\r\nsongN=0\r\nstatusN=0\r\n"
            "artistF=0\r\ntimeF=0\r\nttimeF=0\r\nsongF=0\r\nstatusF=0\r\n"
            "updateT=27767\r\n"
            "act=1\r\n"
            "[prefs]\r\n"
            "port=3131\r\n"
            "minimize=1\r\n"
            "bind=127.0.0.1\r\n");
  const Preferences again = store.Load();
  EXPECT_TRUE(store.FileFound());
  EXPECT_EQ(again.replaceIIblock, defaults.replaceIIblock);
  EXPECT_EQ(again.IntervalMs(), 5000);
}

TEST_F(PrefsTest, ValuesSurviveARestartAsTheFileAllows) {
  struct Case {
    const char* name;
    std::function<void(Preferences&)> set;
    std::function<void(const Preferences&)> check;
    const char* line;  // a line the file must hold, or empty
  };
  const Bytes longBlock = [] {
    Bytes block;
    while (block.size() < 2000)
      block += "line of the block " + std::to_string(block.size()) + "\r\n";
    return block;
  }();
  const std::vector<Case> cases = {
      {"typed <BR> becomes a line break", [](Preferences& p) { p.replaceIIblock = "a<BR>b"; },
       [](const Preferences& p) { EXPECT_EQ(p.replaceIIblock, "a\r\nb"); },
       "replaceIIblock=a<BR>b\r\n"},
      {"lower-case <br> stays as typed", [](Preferences& p) { p.replaceIIblock = "a<br>b\r\nc"; },
       [](const Preferences& p) { EXPECT_EQ(p.replaceIIblock, "a<br>b\r\nc"); },
       "replaceIIblock=a<br>b<BR>c\r\n"},
      {"lone line breaks cannot split the file",
       [](Preferences& p) { p.replaceIIblock = "a\nb\rc\r\n[prefs]\nport=1"; },
       [](const Preferences& p) {
         EXPECT_EQ(p.replaceIIblock, "a\r\nb\r\nc\r\n[prefs]\r\nport=1");
         EXPECT_EQ(p.port, "3131");
       },
       "replaceIIblock=a<BR>b<BR>c<BR>[prefs]<BR>port=1\r\n"},
      {"a 2,000-character block survives whole",
       [&](Preferences& p) { p.replaceIIblock = longBlock; },
       [&](const Preferences& p) { EXPECT_EQ(p.replaceIIblock, longBlock); }, ""},
      {"a pad text of one blank comes back empty", [](Preferences& p) { p.fields[1].pad = " "; },
       [](const Preferences& p) { EXPECT_EQ(p.fields[1].pad, ""); }, "songW= \r\n"},
      {"an interval of 0 is spin position 32767", [](Preferences& p) { p.updateT = kSpinMax - 0; },
       [](const Preferences& p) { EXPECT_EQ(p.IntervalMs(), 0); }, "updateT=32767\r\n"},
      {"a typed case (no item chosen) stays -1", [](Preferences& p) { p.fields[4].caseIndex = -1; },
       [](const Preferences& p) { EXPECT_EQ(p.fields[4].caseIndex, -1); }, "ttimeF=-1\r\n"},
      {"the Replace Continued option", [](Preferences& p) { p.awayprefOwnMessage = false; },
       [](const Preferences& p) { EXPECT_FALSE(p.awayprefOwnMessage); }, "awaypref=False\r\n"},
      {"another listener address", [](Preferences& p) { p.bind = "0.0.0.0"; },
       [](const Preferences& p) { EXPECT_EQ(p.bind, "0.0.0.0"); }, "bind=0.0.0.0\r\n"},
      {"enable box unchecked", [](Preferences& p) { p.act = 0; },
       [](const Preferences& p) { EXPECT_EQ(p.act, 0); }, "act=0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Preferences prefs;
    c.set(prefs);
    Bytes file;
    c.check(RoundTrip(prefs, &file));
    if (*c.line != '\0') {
      EXPECT_NE(file.find(c.line), Bytes::npos) << file;
    }
  }
}

TEST_F(PrefsTest, LoadRulesOfHandEditedFiles) {
  struct Case {
    const char* file;
    std::function<void(const Preferences&)> check;
  };
  const std::vector<Case> cases = {
      {"[KAVO]\nact=2\n", [](const Preferences& p) { EXPECT_EQ(p.act, 0); }},
      {"[KAVO]\nact= 1 \n", [](const Preferences& p) { EXPECT_EQ(p.act, 1); }},
      {"[KAVO]\nact=\"1\"\n", [](const Preferences& p) { EXPECT_EQ(p.act, 1); }},
      {"[prefs]\nport=3131\n", [](const Preferences& p) { EXPECT_EQ(p.act, 0); }},
      {"[KAVO]\nawaypref=true\n", [](const Preferences& p) { EXPECT_FALSE(p.awayprefOwnMessage); }},
      {"[KAVO]\nawaypref=True\n", [](const Preferences& p) { EXPECT_TRUE(p.awayprefOwnMessage); }},
      {"[kavo]\nAWAYPREF=True\n", [](const Preferences& p) { EXPECT_TRUE(p.awayprefOwnMessage); }},
      // A file without a key empties the text it holds but keeps numbers and the address.
      {"[KAVO]\nact=1\n",
       [](const Preferences& p) {
         EXPECT_EQ(p.fields[0].token, "");
         EXPECT_EQ(p.replaceIIblock, "");
         EXPECT_EQ(p.updateT, 27767);
         EXPECT_EQ(p.profileact, 1);
         EXPECT_EQ(p.port, "3131");
         EXPECT_EQ(p.bind, "127.0.0.1");
       }},
      {"[KAVO]\r\nartistF=-1\r\nsongF=3\r\nlimit=2\r\nupdateT=0\r\n[PREFS]\r\nport=65535\r\n",
       [](const Preferences& p) {
         EXPECT_EQ(p.fields[0].caseIndex, -1);
         EXPECT_EQ(p.fields[1].caseIndex, 3);
         EXPECT_EQ(p.limit, 2);
         EXPECT_EQ(p.updateT, 0);
         EXPECT_EQ(p.port, "65535");
         EXPECT_EQ(PortNumber(p), 65535);
       }},
      {"[prefs]\nport=08080\n",
       [](const Preferences& p) {
         EXPECT_EQ(p.port, "08080");  // kept as typed
         EXPECT_EQ(PortNumber(p), 8080);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    PrefsStore* store = nullptr;
    c.check(LoadText(c.file, &store));
    EXPECT_TRUE(store->Warnings().empty());
  }
}

TEST_F(PrefsTest, RefusedNumbersKeepTheDefaultAndAreReportedOnce) {
  const Bytes file =
      "[KAVO]\n"
      "updateT=abc\n"
      "updateT=99\n"  // only the first line of a key counts
      "profileact=3\n"
      "songF=4\n"
      "artistF=-2\n"
      "limit=\n"
      "launchcheck=1.0\n"
      "repBufferCheck=99999999999999999999999\n"
      "[prefs]\n"
      "port=70000\n"
      "minimize=-1\n"
      "bind=\n";
  testing::internal::CaptureStderr();
  PrefsStore* store = nullptr;
  const Preferences p = LoadText(file, &store);
  const std::string reported = testing::internal::GetCapturedStderr();
  const Preferences defaults;
  EXPECT_EQ(p.updateT, defaults.updateT);
  EXPECT_EQ(p.profileact, 1);
  EXPECT_EQ(p.fields[1].caseIndex, 0);
  EXPECT_EQ(p.fields[0].caseIndex, 0);
  EXPECT_EQ(p.limit, 0);
  EXPECT_EQ(p.launchcheck, 0);
  EXPECT_EQ(p.repBufferCheck, 0);
  EXPECT_EQ(p.port, "3131");
  EXPECT_EQ(p.minimize, 1);
  EXPECT_EQ(p.bind, "127.0.0.1");
  EXPECT_EQ(store->Warnings().size(), 10u);
  for (const char* typed : {"", "0", "65536", "abc", "-1"}) {
    Preferences typedPort;
    typedPort.port = typed;
    EXPECT_EQ(PortNumber(typedPort), std::nullopt) << typed;
  }
  for (const char* name : {"updateT=\"abc", "profileact=", "songF=", "artistF=", "limit=",
                           "launchcheck=", "repBufferCheck=", "port=", "minimize=", "bind="}) {
    const std::string key = std::string("] ") + name;
    const std::size_t at = reported.find(key);
    EXPECT_NE(at, std::string::npos) << key << " in " << reported;
    EXPECT_EQ(reported.find(key, at + 1), std::string::npos) << key << " twice in " << reported;
  }
}

TEST_F(PrefsTest, UnknownLinesSurviveASave) {
  const QString path = PathOf("prefs.ini");
  const Bytes file =
      "; my notes about these settings\n"
      "[KAVO]\n"
      "act=1\n"
      "future=keep me\n"
      "\n"
      "[Other Program]\n"
      "artist=not ours\n"
      "junk without equals\n"
      "[prefs]\n"
      "Port = 4000\n"
      "\n";
  WriteAll(path, file);
  PrefsStore store(path);
  Preferences p = store.Load();
  p.port = "5000";
  ASSERT_TRUE(store.Save(p));
  const Bytes saved = ReadAll(path);
  // Every line kept in order, LF endings kept, the port changed in place, new keys appended.
  EXPECT_EQ(saved.rfind("; my notes about these settings\n[KAVO]\nact=1\nfuture=keep me\n", 0), 0u)
      << saved;
  EXPECT_NE(saved.find("updateT=27767\n\n[Other Program]\nartist=not ours\njunk without equals\n"
                       "[prefs]\nPort =5000\nminimize=1\nbind=127.0.0.1\n\n"),
            Bytes::npos)
      << saved;
  EXPECT_EQ(saved.find('\r'), Bytes::npos);
  EXPECT_EQ(store.Load().fields[0].token, "");  // the other section's "artist" is not ours
}

TEST_F(PrefsTest, OneSaveWritesWhatKeyByKeyWritesWould) {
  const Bytes start =
      "\xEF\xBB\xBF; hand-edited\r\n[prefs]\r\nminimize=0\r\n\r\n[kavo]\r\nSONG=x\r\nact=0";
  const QString byKey = PathOf("by-key.ini");
  const QString atOnce = PathOf("at-once.ini");
  WriteAll(byKey, start);
  WriteAll(atOnce, start);
  Preferences prefs;
  prefs.replaceIIblock = "a\r\nb";
  for (PrefKey key : kKavoSaveOrder) {
    ASSERT_TRUE(WriteIni(InfoOf(key).section, InfoOf(key).name, PrefText(prefs, key), byKey));
  }
  for (PrefKey key : kPrefsSaveOrder) {
    ASSERT_TRUE(WriteIni(InfoOf(key).section, InfoOf(key).name, PrefText(prefs, key), byKey));
  }
  ASSERT_TRUE(PrefsStore(atOnce).Save(prefs));
  EXPECT_EQ(ReadAll(atOnce), ReadAll(byKey));
}

TEST_F(PrefsTest, UnreadableOrUnwritableFileIsReportedAndNotReplaced) {
  const QString blocker = PathOf("plain-file");
  WriteAll(blocker, "x");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(PrefsStore(blocker + QStringLiteral("/prefs.ini")).Save(Preferences{}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not saved"), std::string::npos);

  const QString folder = PathOf("prefs.ini");
  ASSERT_TRUE(QDir().mkpath(folder));
  PrefsStore store(folder);
  testing::internal::CaptureStderr();
  EXPECT_EQ(store.Load().port, "3131");
  EXPECT_FALSE(store.Save(Preferences{}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not saved"), std::string::npos);
  EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(PrefsTest, NowPlayingReadsTheFileNamedByPrefsAndNeverWritesIt) {
  const QString path = PathOf("chosen.ini");
  const Bytes file = "[KAVO]\r\nupdateT=soon\r\n";
  WriteAll(path, file);
  QProcess quorvel;
  quorvel.start(QStringLiteral(QUORVEL_BINARY),
                {QStringLiteral("--prefs"), path, QStringLiteral("--now-playing"),
                 QStringLiteral("--player"), QStringLiteral("none")});
  ASSERT_TRUE(quorvel.waitForFinished(30000));
  const std::string err = quorvel.readAllStandardError().toStdString();
  EXPECT_NE(err.find("chosen.ini: [KAVO] updateT=\"soon\""), std::string::npos) << err;
  EXPECT_EQ(ReadAll(path), file);
}

TEST(PrefsLocation, BesideTheProgramWhenPossibleElseConfigFolder) {
  QTemporaryDir root;
  const QString program = root.filePath(QStringLiteral("bin"));
  const QString config = root.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(program));
  const QString beside = program + QStringLiteral("/prefs.ini");

  EXPECT_EQ(ChoosePrefsPath(QString(), program, config), beside);              // writable folder
  EXPECT_TRUE(QDir(program).entryList(QDir::Files | QDir::Hidden).isEmpty());  // probe removed

  // A folder where nothing can be created: its parent is a plain file.
  const QString plain = root.filePath(QStringLiteral("plain"));
  WriteAll(plain, "x");
  EXPECT_EQ(ChoosePrefsPath(QString(), plain + QStringLiteral("/bin"), config),
            config + QStringLiteral("/prefs.ini"));

  EXPECT_EQ(ChoosePrefsPath(root.filePath(QStringLiteral("mine.ini")), program, config),
            root.filePath(QStringLiteral("mine.ini")));
  EXPECT_TRUE(QFileInfo(ChoosePrefsPath(QStringLiteral("rel.ini"), program, config)).isAbsolute());
}

}  // namespace
}  // namespace quorvel
