#pragma once
// The settings of prefs.ini, one row each: its section and key, how its text is written and read
// back, its default, and the Preferences member that holds it. Loading, saving, the window's
// controls and the composition settings all go by this table, so a new setting is one new row
// (and, when the window shows it, one line binding its control).
//
// The table lists the keys in the order they are saved, which fixes the bytes of a file written
// from nothing. Each row also names its step in the load order, in which the window sets its
// controls and so runs their reactions: every "KAVO" key before every "prefs" key.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "settings/ini_document.h"
#include "settings/preferences.h"

namespace quorvel {

inline constexpr std::string_view kKavoSection = "KAVO";
inline constexpr std::string_view kPrefsSection = "prefs";

// How a setting's text is written and read back.
enum class SettingKind {
  kText,       // the text as it stands
  kBlock,      // the Replace Continued block: line breaks stored as "<BR>"
  kCheck,      // check box value 0 to 2 in decimal
  kAct,        // check box value; checked on load only by exactly "1"
  kAwayPref,   // "True" or "False"; only exactly "True" loads as true
  kTrueFalse,  // "True" or "False"; a missing key or any other text keeps the current value
  kCase,       // list position -1 to 3 in decimal
  kSpin,       // spin position 0 to 32767 in decimal
  kPort,       // a port 1 to 65535, kept as typed
  kBind,       // an address; a missing or empty key keeps the current one
};

// Where a setting's value lives in Preferences: a member of its own, or one column of a media
// field's row on the Replace page.
struct SettingField {
  std::variant<std::string Preferences::*, int Preferences::*, bool Preferences::*,
               std::string FieldPrefs::*, int FieldPrefs::*>
      member;
  MediaField mediaField = MediaField::kArtist;  // the row, for a FieldPrefs member

  bool operator==(const SettingField&) const = default;
};

// Whether saving always writes a setting, or only where it tells something.
enum class SaveRule {
  kAlways,
  // A key that files written by older versions lack: written only when the file already holds
  // it or the value differs from the default, so that such a file stays byte-identical after a
  // run that changed nothing.
  kWhenHeldOrChanged,
};

struct Setting {
  std::string_view section;
  std::string_view key;
  SettingKind kind;
  std::string_view defaultText;  // what a file holding the default would hold
  SettingField field;
  int loadStep;  // the setting's place in the load order, from 0
  SaveRule save = SaveRule::kAlways;
};

// Every setting, in save order.
std::span<const Setting> SettingTable();
// Every setting, in load order.
std::span<const Setting* const> LoadOrder();
// The row of `field`, or nullptr when no setting lives there.
const Setting* FindSetting(const SettingField& field);

// The value of `field` in `prefs`. T is the member's type: std::string, int or bool; any other
// type throws std::logic_error.
template <class T, class P>
requires std::is_same_v<std::remove_const_t<P>, Preferences>
auto& ValueOf(P& prefs, const SettingField& field) {
  using Value = std::conditional_t<std::is_const_v<P>, const T, T>;
  Value* value = nullptr;
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, T Preferences::*>) {
          value = &(prefs.*member);
        } else if constexpr (std::is_same_v<Member, T FieldPrefs::*>) {
          value = &(prefs.Field(field.mediaField).*member);
        }
      },
      field.member);
  if (value == nullptr) throw std::logic_error("a setting read as a type it does not have");
  return *value;
}

// Stores the file's text for `setting` (nothing: the key is missing) in `prefs`. A missing text
// key stores the empty text; a missing numeric key, a missing key that older files lack
// (SaveRule::kWhenHeldOrChanged), and a text that is not a whole number in the key's range, keep
// the current value. Returns a description of a refused value, or nothing.
std::optional<std::string> ApplySettingText(Preferences& prefs, const Setting& setting,
                                            const std::optional<Bytes>& text);

// The text written for `setting`. The block's line breaks (CR LF, and a lone CR or LF too, which
// the file could not hold) become "<BR>".
Bytes SettingText(const Preferences& prefs, const Setting& setting);

// Copies the value of `setting` from `from` into `to`.
void CopySetting(const Setting& setting, const Preferences& from, Preferences& to);

// The listening port that `text` names, or nothing when it is not a port from 1 to 65535 (a
// loaded file never gives such a text; a window's port box might).
std::optional<std::uint16_t> ParsePort(std::string_view text);

// Reads every setting of `ini` into `prefs` in load order. Refused values are appended to
// `warnings`. Call it only when the file exists: the defaults hold otherwise.
void LoadSettings(const IniDocument& ini, Preferences& prefs, std::vector<std::string>* warnings);

// Whether saving writes `text` for `setting` into `ini`: always, but for a key that older files
// lack, which is written only where `ini` holds it or `text` differs from the default.
bool SavesSetting(const Setting& setting, BytesView text, const IniDocument& ini);

// Writes every setting of `prefs` into `ini` in save order, each key where it stands or appended.
// A value that cannot be stored leaves the key as it was and is appended to `problems`.
void SaveSettings(const Preferences& prefs, IniDocument& ini, std::vector<std::string>* problems);

}  // namespace quorvel
