// Reads arbitrary bytes as prefs.ini, loads the settings from them and saves them back, checking
// that the text round-trips, that one save equals the keys it writes written one at a time, that
// every line that is not one of the program's keys survives the save in order, that every setting
// reads back as it was saved, and that saving what was loaded changes nothing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_document.h"
#include "settings/settings_table.h"

namespace {

using quorvel::Bytes;
using quorvel::IniDocument;
using quorvel::Setting;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    // Trailing CRs are compared without: a file's unterminated last line gains an ending on
    // save, and a CR it ended with may then read as part of that ending.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A line that a save may rewrite: one whose text before its first '=' is, blanks dropped, the
// name of one of the program's keys.
bool MayBeOurs(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  std::string_view name = line.substr(0, equals);
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  for (const Setting& setting : quorvel::SettingTable()) {
    if (quorvel::EqualsIgnoringCase(name, setting.key)) return true;
  }
  return false;
}

// A file as the program writes it, which an odd first byte puts in front of the rest of the
// input, so that hand edits of a real file are explored without the fuzzer guessing key names.
constexpr std::string_view kWrittenFile =
    "[KAVO]\r\nrepBufferCheck=0\r\nrepBufferText=Text1\r\nreplaceII=What You Want Replaced\r\n"
    "replaceIIblock=A<BR>B<BR>\r\nprofileact=1\r\nawayact=1\r\nawaypref=True\r\n"
    "launchcheck=0\r\nlaunchpath=\r\nlimit=0\r\nartistJ=Center\r\ntimeJ=Center\r\n"
    "ttimeJ=Center\r\nsongJ=Center\r\nstatusJ=Center\r\nartistW=_\r\ntimeW=_\r\nttimeW=_\r\n"
    "songW=_\r\nstatusW=_\r\nartist=%a\r\nsong=%s\r\ntime=%t\r\nttime=%x\r\nstatus=%p\r\n"
    "artistN=0\r\ntimeN=0\r\nttimeN=0\r\nsongN=0\r\nstatusN=0\r\nartistF=0\r\ntimeF=0\r\n"
    "ttimeF=0\r\nsongF=0\r\nstatusF=0\r\nupdateT=27767\r\nact=1\r\nalbum=%l\r\nalbumF=0\r\n"
    "albumN=0\r\nalbumW=_\r\nalbumJ=Center\r\n[prefs]\r\nport=3131\r\nminimize=1\r\n"
    "bind=127.0.0.1\r\nplayer=\r\nignorePlayers=\r\nautostart=False\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  Bytes combined;
  if (!raw.empty() && (raw.front() & 1) != 0) {
    combined = Bytes(kWrittenFile) + Bytes(raw.substr(1));
    raw = combined;
  }
  const std::string_view input = raw;
  const IniDocument ini = IniDocument::Parse(input);
  Check(ini.Serialize() == input);

  quorvel::Preferences prefs;
  std::vector<std::string> warnings;
  quorvel::LoadSettings(ini, prefs, &warnings);

  // One save in memory ...
  IniDocument saved = ini;
  std::vector<std::string> problems;
  quorvel::SaveSettings(prefs, saved, &problems);
  const Bytes output = saved.Serialize();

  // ... gives the bytes of writing each key to the file on its own; a key that older files lack
  // only where the file holds it or its value is not the default.
  Bytes byKey(input);
  for (const Setting& setting : quorvel::SettingTable()) {
    IniDocument step = IniDocument::Parse(byKey);
    const Bytes text = quorvel::SettingText(prefs, setting);
    if (!quorvel::SavesSetting(setting, text, step)) continue;
    step.Set(setting.section, setting.key, text);
    byKey = step.Serialize();
  }
  Check(byKey == output);
  // A file that already holds every key as the program writes it stays byte for byte.
  if (problems.empty()) {
    IniDocument again = saved;
    quorvel::SaveSettings(prefs, again, nullptr);
    Check(again.Serialize() == output);
  }

  // Every other line is still there, in order.
  const std::vector<std::string_view> after = Lines(output);
  std::size_t next = 0;
  for (std::string_view line : Lines(input)) {
    if (MayBeOurs(line)) continue;
    while (next < after.size() && after[next] != line) ++next;
    Check(next < after.size());
    ++next;
  }

  // What was saved reads back as saved: every setting, blanks and quotes around texts included.
  quorvel::Preferences reloaded;
  warnings.clear();
  quorvel::LoadSettings(saved, reloaded, &warnings);
  for (const Setting& setting : quorvel::SettingTable()) {
    Check(quorvel::SettingText(reloaded, setting) == quorvel::SettingText(prefs, setting));
  }
  return 0;
}
