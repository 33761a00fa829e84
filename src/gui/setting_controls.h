#pragma once
// Ties the settings that the window shows to their controls: shows a Preferences value in them,
// and keeps a Preferences value equal to what they hold as they change. How a value is shown and
// read back follows the setting's kind: a combo box shows a case as a list position and a
// justification as its text; the block editor holds LF line ends where the value has CR LF; a
// check box holds a check value (0 to 2) or a True/False flag.

#include <QMetaObject>
#include <QString>
#include <functional>
#include <vector>

#include "settings/preferences.h"
#include "settings/settings_table.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QScrollBar;

namespace quorvel {

class SettingControls {
 public:
  // `values` follows the bound controls; it must outlive this object.
  explicit SettingControls(Preferences& values) : values_(values) {}
  ~SettingControls();
  SettingControls(const SettingControls&) = delete;
  SettingControls& operator=(const SettingControls&) = delete;

  // Binds the control of the setting that lives at `field`: from now on every change of the
  // control is stored in the values. Bind a setting's control before any reaction of the control
  // is connected, so that a reaction sees the values already updated.
  void Bind(const SettingField& field, QLineEdit* edit);
  void Bind(const SettingField& field, QCheckBox* box);
  void Bind(const SettingField& field, QComboBox* combo);
  // A text shown by a combo box whose item `emptyItem` stands for the empty text ("Automatic").
  void Bind(const SettingField& field, QComboBox* combo, const QString& emptyItem);
  void Bind(const SettingField& field, QScrollBar* spin);
  void Bind(const SettingField& field, QPlainTextEdit* edit);
  // A flag shown by a pair of option buttons: `whenTrue` selected for true, `whenFalse` for false.
  void Bind(const SettingField& field, QRadioButton* whenTrue, QRadioButton* whenFalse);

  // Sets the control of `setting` to the value in `from` (its reaction runs when that changes what
  // the control holds) and stores what the control then holds. A setting without a control takes
  // the value in `from`.
  void Show(const Setting& setting, const Preferences& from);

 private:
  using ToControl = std::function<void(const Preferences&)>;  // sets the control from a value
  using FromControl = std::function<void(Preferences&)>;      // stores what the control holds
  struct Binding {
    const Setting* setting;
    ToControl show;
    FromControl read;
  };

  // The row of the setting that lives at `field`; a bound control must hold a setting.
  static const Setting& RowOf(const SettingField& field);
  void Add(const SettingField& field, ToControl show, FromControl read);
  // Stores what the control holds, through `read`, whenever `sender` emits `changed`.
  template <class Sender, class Signal>
  void StoreOn(Sender* sender, Signal changed, FromControl read);

  Preferences& values_;
  std::vector<Binding> bindings_;
  std::vector<QMetaObject::Connection> connections_;
};

}  // namespace quorvel
