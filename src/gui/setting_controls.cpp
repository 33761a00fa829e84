#include "gui/setting_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextDocument>
#include <memory>
#include <stdexcept>
#include <string>

#include "settings/stored_text.h"

namespace quorvel {
namespace {

int CheckValue(const QCheckBox* box) {
  switch (box->checkState()) {
    case Qt::Unchecked:
      return 0;
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
  }
  return 0;
}

// 0 clears, 1 ticks, 2 greys the box; other values leave it as it is.
void SetCheckValue(QCheckBox* box, int value) {
  if (value == 0) box->setCheckState(Qt::Unchecked);
  if (value == 1) box->setCheckState(Qt::Checked);
  if (value == 2) box->setCheckState(Qt::PartiallyChecked);
}

// The position of the item whose text the box shows, or -1 when the text is not an item.
int ListIndex(const QComboBox* box) {
  return box->findText(box->currentText());
}

void SetListIndex(QComboBox* box, int index) {
  if (index >= -1 && index < box->count()) box->setCurrentIndex(index);
}

void SetComboText(QComboBox* box, const QString& text) {
  const int index = box->findText(text);
  if (index >= 0) {
    box->setCurrentIndex(index);
  } else {
    box->setEditText(text);
  }
}

// The block is stored with CR LF line ends; the editor holds LF.
QString BlockToEditor(const std::string& block) {
  return TextForEditing(block).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The editor's text as the block reads it: the raw text, whose no-break spaces stay what they are
// (the plain text would turn them into spaces), with CR LF line ends.
QString BlockFromEditor(const QPlainTextEdit& edit) {
  QString block = edit.document()->toRawText();
  block.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
  block.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
  block.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  block.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return block;
}

}  // namespace

SettingControls::~SettingControls() {
  // A window's controls are deleted after its members: no change they signal then may reach the
  // values.
  for (const QMetaObject::Connection& connection : connections_) QObject::disconnect(connection);
}

const Setting& SettingControls::RowOf(const SettingField& field) {
  const Setting* setting = FindSetting(field);
  if (setting == nullptr) throw std::logic_error("a control bound to no setting");
  return *setting;
}

void SettingControls::Add(const SettingField& field, ToControl show, FromControl read) {
  bindings_.push_back(Binding{&RowOf(field), std::move(show), std::move(read)});
}

template <class Sender, class Signal>
void SettingControls::StoreOn(Sender* sender, Signal changed, FromControl read) {
  connections_.push_back(
      QObject::connect(sender, changed, [this, read = std::move(read)] { read(values_); }));
}

// Texts keep the bytes they were shown with (UTF-8 or Windows-1252) while the control shows that
// text, even after an edit that was taken back.
void SettingControls::Bind(const SettingField& field, QLineEdit* edit) {
  auto shown = std::make_shared<std::string>();
  const FromControl read = [edit, field, shown](Preferences& to) {
    ValueOf<std::string>(to, field) = BytesForStoring(edit->text(), *shown);
  };
  Add(
      field,
      [edit, field, shown](const Preferences& from) {
        *shown = ValueOf<std::string>(from, field);
        edit->setText(TextForEditing(*shown));
      },
      read);
  StoreOn(edit, &QLineEdit::textChanged, read);
}

void SettingControls::Bind(const SettingField& field, QCheckBox* box) {
  ToControl show;
  FromControl read;
  if (RowOf(field).kind == SettingKind::kTrueFalse) {
    show = [box, field](const Preferences& from) { box->setChecked(ValueOf<bool>(from, field)); };
    read = [box, field](Preferences& to) { ValueOf<bool>(to, field) = box->isChecked(); };
  } else {
    show = [box, field](const Preferences& from) { SetCheckValue(box, ValueOf<int>(from, field)); };
    read = [box, field](Preferences& to) { ValueOf<int>(to, field) = CheckValue(box); };
  }
  Add(field, show, read);
  StoreOn(box, &QCheckBox::stateChanged, read);
}

void SettingControls::Bind(const SettingField& field, QComboBox* combo) {
  ToControl show;
  FromControl read;
  if (RowOf(field).kind == SettingKind::kCase) {
    show = [combo, field](const Preferences& from) {
      SetListIndex(combo, ValueOf<int>(from, field));
    };
    read = [combo, field](Preferences& to) { ValueOf<int>(to, field) = ListIndex(combo); };
  } else {
    auto shown = std::make_shared<std::string>();
    show = [combo, field, shown](const Preferences& from) {
      *shown = ValueOf<std::string>(from, field);
      SetComboText(combo, TextForEditing(*shown));
    };
    read = [combo, field, shown](Preferences& to) {
      ValueOf<std::string>(to, field) = BytesForStoring(combo->currentText(), *shown);
    };
  }
  Add(field, show, read);
  StoreOn(combo, &QComboBox::editTextChanged, read);
  StoreOn(combo, &QComboBox::currentIndexChanged, read);
}

void SettingControls::Bind(const SettingField& field, QComboBox* combo, const QString& emptyItem) {
  const FromControl read = [combo, field, emptyItem](Preferences& to) {
    const QString text = combo->currentText();
    ValueOf<std::string>(to, field) = text == emptyItem ? std::string() : text.toStdString();
  };
  Add(
      field,
      [combo, field, emptyItem](const Preferences& from) {
        const std::string& value = ValueOf<std::string>(from, field);
        SetComboText(combo, value.empty() ? emptyItem : QString::fromStdString(value));
      },
      read);
  StoreOn(combo, &QComboBox::editTextChanged, read);
  StoreOn(combo, &QComboBox::currentIndexChanged, read);
}

void SettingControls::Bind(const SettingField& field, QScrollBar* spin) {
  const FromControl read = [spin, field](Preferences& to) {
    ValueOf<int>(to, field) = spin->value();
  };
  Add(
      field, [spin, field](const Preferences& from) { spin->setValue(ValueOf<int>(from, field)); },
      read);
  StoreOn(spin, &QScrollBar::valueChanged, read);
}

void SettingControls::Bind(const SettingField& field, QPlainTextEdit* edit) {
  auto shown = std::make_shared<std::string>();
  const FromControl read = [edit, field, shown](Preferences& to) {
    ValueOf<std::string>(to, field) = BytesForStoring(BlockFromEditor(*edit), *shown);
  };
  Add(
      field,
      [edit, field, shown](const Preferences& from) {
        *shown = ValueOf<std::string>(from, field);
        edit->setPlainText(BlockToEditor(*shown));
      },
      read);
  StoreOn(edit, &QPlainTextEdit::textChanged, read);
}

void SettingControls::Bind(const SettingField& field, QRadioButton* whenTrue,
                           QRadioButton* whenFalse) {
  const FromControl read = [whenTrue, field](Preferences& to) {
    ValueOf<bool>(to, field) = whenTrue->isChecked();
  };
  Add(
      field,
      [whenTrue, whenFalse, field](const Preferences& from) {
        // The two buttons exclude each other: selecting one clears the other.
        (ValueOf<bool>(from, field) ? whenTrue : whenFalse)->setChecked(true);
      },
      read);
  StoreOn(whenTrue, &QRadioButton::toggled, read);
  StoreOn(whenFalse, &QRadioButton::toggled, read);
}

void SettingControls::Show(const Setting& setting, const Preferences& from) {
  // The value first: the control's reaction, which runs as it is set, sees it already.
  CopySetting(setting, from, values_);
  for (const Binding& binding : bindings_) {
    if (binding.setting == &setting) {
      binding.show(from);
      binding.read(values_);
      return;
    }
  }
}

}  // namespace quorvel
