#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <optional>

#include "gui/app_icon.h"
#include "settings/preferences_settings.h"
#include "gui/launch_file.h"
#include "gui/tray_icon.h"

namespace quorvel {
namespace {

constexpr const char* kPageNames[kPageCount] = {"Events", "Preferences", "Replace",
                                                "Replace Continued", "About"};

// A whole number of at most nine ASCII digits; anything else (signs, blanks) is not one.
std::optional<int> WholeNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

std::optional<std::uint16_t> PortNumber(const QString& text) {
  Preferences prefs;
  prefs.port = text.toStdString();
  return PortNumber(prefs);
}

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

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The block is stored with CR LF line ends; the editor holds LF.
QString BlockToEditor(const std::string& block) {
  return FromUtf8(block).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

std::string BlockFromEditor(const QString& text) {
  QString block = text;
  block.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  block.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return block.toStdString();
}

}  // namespace

Form1::Form1(EventLog& log, QWidget* parent)
    : QWidget(parent), log_(log), trayAvailable_(&QSystemTrayIcon::isSystemTrayAvailable) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kStartCaption));
  const QIcon icon = AppIcon();
  setWindowIcon(icon);
  QFont base = font();
  base.setPointSizeF(8);
  base.setStretch(QFont::Condensed);
  setFont(base);
  setFixedSize(457, 161);  // 6855 by 2415 twips

  master_list_ = new QListWidget(this);
  master_list_->setObjectName(QStringLiteral("master_list"));
  master_list_->setGeometry(8, 8, 105, 145);  // 120, 120, 1575, 2175
  for (const char* name : kPageNames) master_list_->addItem(QString::fromLatin1(name));

  for (int i = 0; i < kPageCount; ++i) {
    auto* page = new QFrame(this);
    page->setObjectName(QStringLiteral("Frames_%1").arg(i));
    const bool narrow = i == 1 || i == 2;                // 4815 twips instead of 4935
    page->setGeometry(120, 8, narrow ? 321 : 329, 153);  // 1800, 120, ..., 2295
    page->hide();
    Frames_[static_cast<std::size_t>(i)] = page;
  }

  BuildEventsPage();
  BuildPreferencesPage();
  BuildReplacePage();
  BuildReplaceContinuedPage();
  BuildAboutPage();
  repIIBlock_->setPlainText(BlockToEditor(Preferences{}.replaceIIblock));

  checkTimer_.setObjectName(QStringLiteral("checkTimer"));
  checkTimer_.setParent(this);
  tray_ = new SysTray(icon, this);

  for (int row = 0; row < log_.LineCount(); ++row) mesList_->addItem(FromUtf8(log_.Line(row)));
  log_.SetObserver(this);

  ConnectReactions();
}

Form1::~Form1() {
  log_.SetObserver(nullptr);
}

void Form1::ConnectReactions() {
  connect(master_list_, &QListWidget::currentRowChanged, this, &Form1::master_list_Click);
  for (int i = 0; i < 5; ++i) {
    connect(prefsChk_[static_cast<std::size_t>(i)], &QCheckBox::stateChanged, this,
            [this, i] { prefsChk_Click(i); });
  }
  for (int i = 0; i < 3; ++i) {
    connect(prefsText_[static_cast<std::size_t>(i)], &QLineEdit::textChanged, this,
            [this, i] { prefsText_Change(i); });
  }
  connect(prefsScroll_, &QScrollBar::valueChanged, this, &Form1::prefsScroll_Change);
  connect(prefsButton_, &QPushButton::clicked, this, &Form1::prefsButton_Click);
  for (QLineEdit* box : repText_) box->installEventFilter(this);
  connect(mesButton_, &QPushButton::clicked, this, [this] { log_.Clear(); });
  connect(&checkTimer_, &QTimer::timeout, this, [this] {
    if (monitor_ != nullptr) monitor_->CheckTimer();
  });
  connect(tray_, &SysTray::restoreRequested, this, &Form1::RestoreFromTray);
}

void Form1::Bind(ProxyControl& proxy, MonitorPort& monitor, SettingsFile& settings) {
  proxy_ = &proxy;
  monitor_ = &monitor;
  settings_ = &settings;
  monitor_->SetTitleListener([this](const std::string& title) { setWindowTitle(FromUtf8(title)); });
}

void Form1::SetTrayAvailability(std::function<bool()> probe) {
  trayAvailable_ = std::move(probe);
}

bool Form1::TrayAvailable() const {
  return trayAvailable_ && trayAvailable_();
}

// ---------------------------------------------------------------------------------------------
// Loading and closing

void Form1::FormLoad() {
  if (monitor_ != nullptr) monitor_->ResetForStartUp();

  // Each stored value is set into its control in the file's load order, so that every control's
  // reaction runs and sees the controls set before it. Without a file the defaults stay.
  const std::optional<Preferences> file = settings_ != nullptr ? settings_->Load() : std::nullopt;
  if (file) {
    loaded_ = *file;
    for (const PrefKey key : kKavoLoadOrder) ApplyKey(key, loaded_);
  }
  // The interval box and the timer agree with the spin position even when nothing changed.
  prefsText_[1]->setText(QString::number(kSpinMax - prefsScroll_->value()));
  if (const auto interval = WholeNumber(prefsText_[1]->text())) SetCheckTimerInterval(*interval);
  if (file) {
    for (const PrefKey key : kPrefsLoadOrder) ApplyKey(key, loaded_);
  }

  if (prefsChk_[3]->checkState() == Qt::Checked) tray_->Add();
  const QList<QListWidgetItem*> events =
      master_list_->findItems(QString::fromLatin1(kPageNames[0]), Qt::MatchExactly);
  if (!events.isEmpty()) master_list_->setCurrentItem(events.first());
  if (proxy_ != nullptr) {
    if (const auto port = PortNumber(prefsText_[0]->text())) proxy_->StartListen(*port);
  }
  if (prefsChk_[4]->checkState() == Qt::Checked) ShellExec(prefsText_[2]->text());
}

void Form1::ApplyKey(PrefKey key, const Preferences& prefs) {
  const int field = InfoOf(key).field;
  const auto i = static_cast<std::size_t>(field < 0 ? 0 : field);
  switch (key) {
    case PrefKey::kPort:
      return prefsText_[0]->setText(FromUtf8(prefs.port));
    case PrefKey::kMinimize:
      return SetCheckValue(prefsChk_[3], prefs.minimize);
    case PrefKey::kBind:
      return;  // no control: kept in loaded_
    case PrefKey::kAct:
      return SetCheckValue(prefsChk_[0], prefs.act);
    case PrefKey::kProfileact:
      return SetCheckValue(prefsChk_[1], prefs.profileact);
    case PrefKey::kAwayact:
      return SetCheckValue(prefsChk_[2], prefs.awayact);
    case PrefKey::kAwaypref:
      // The two buttons exclude each other: selecting one clears the other.
      return prefsRad_[prefs.awayprefOwnMessage ? 0 : 1]->setChecked(true);
    case PrefKey::kLaunchcheck:
      return SetCheckValue(prefsChk_[4], prefs.launchcheck);
    case PrefKey::kLaunchpath:
      return prefsText_[2]->setText(FromUtf8(prefs.launchpath));
    case PrefKey::kUpdateT:
      return prefsScroll_->setValue(prefs.updateT);
    case PrefKey::kLimit:
      return SetCheckValue(repCheck_, prefs.limit);
    case PrefKey::kRepBufferCheck:
      return SetCheckValue(repCheck2_, prefs.repBufferCheck);
    case PrefKey::kRepBufferText:
      return repText_[15]->setText(FromUtf8(prefs.repBufferText));
    case PrefKey::kReplaceII:
      return repIIToken_->setText(FromUtf8(prefs.replaceII));
    case PrefKey::kReplaceIIblock:
      return repIIBlock_->setPlainText(BlockToEditor(prefs.replaceIIblock));
    case PrefKey::kArtist:
    case PrefKey::kSong:
    case PrefKey::kStatus:
    case PrefKey::kTime:
    case PrefKey::kTtime:
      return repText_[i]->setText(FromUtf8(prefs.fields[i].token));
    case PrefKey::kArtistF:
    case PrefKey::kSongF:
    case PrefKey::kStatusF:
    case PrefKey::kTimeF:
    case PrefKey::kTtimeF:
      return SetListIndex(repFormat_[i], prefs.fields[i].caseIndex);
    case PrefKey::kArtistN:
    case PrefKey::kSongN:
    case PrefKey::kStatusN:
    case PrefKey::kTimeN:
    case PrefKey::kTtimeN:
      return repText_[5 + i]->setText(FromUtf8(prefs.fields[i].length));
    case PrefKey::kArtistW:
    case PrefKey::kSongW:
    case PrefKey::kStatusW:
    case PrefKey::kTimeW:
    case PrefKey::kTtimeW:
      return repText_[10 + i]->setText(FromUtf8(prefs.fields[i].pad));
    case PrefKey::kArtistJ:
    case PrefKey::kSongJ:
    case PrefKey::kStatusJ:
    case PrefKey::kTimeJ:
    case PrefKey::kTtimeJ:
      return SetComboText(repFormat_[5 + i], FromUtf8(prefs.fields[i].justification));
  }
}

void Form1::FormUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (settings_ != nullptr) settings_->Save(ControlValues());
  if (tray_->IsPresent()) tray_->Remove();
  if (proxy_ != nullptr) proxy_->StopListen();
  checkTimer_.stop();
  emit unloaded();
}

void Form1::closeEvent(QCloseEvent* event) {
  FormUnload();
  event->accept();
}

Preferences Form1::ControlValues() const {
  Preferences prefs = loaded_;
  prefs.port = prefsText_[0]->text().toStdString();
  prefs.minimize = CheckValue(prefsChk_[3]);
  prefs.act = CheckValue(prefsChk_[0]);
  prefs.profileact = CheckValue(prefsChk_[1]);
  prefs.awayact = CheckValue(prefsChk_[2]);
  prefs.awayprefOwnMessage = prefsRad_[0]->isChecked();
  prefs.launchcheck = CheckValue(prefsChk_[4]);
  prefs.launchpath = prefsText_[2]->text().toStdString();
  prefs.updateT = prefsScroll_->value();
  for (std::size_t i = 0; i < kMediaFieldCount; ++i) {
    FieldPrefs& field = prefs.fields[i];
    field.token = repText_[i]->text().toStdString();
    field.caseIndex = ListIndex(repFormat_[i]);
    field.length = repText_[5 + i]->text().toStdString();
    field.pad = repText_[10 + i]->text().toStdString();
    field.justification = repFormat_[5 + i]->currentText().toStdString();
  }
  prefs.limit = CheckValue(repCheck_);
  prefs.repBufferCheck = CheckValue(repCheck2_);
  prefs.repBufferText = repText_[15]->text().toStdString();
  prefs.replaceII = repIIToken_->text().toStdString();
  prefs.replaceIIblock = BlockFromEditor(repIIBlock_->toPlainText());
  return prefs;
}

// ---------------------------------------------------------------------------------------------
// Reactions

void Form1::master_list_Click() {
  const int selected = master_list_->currentRow();
  for (int i = 0; i < kPageCount; ++i)
    Frames_[static_cast<std::size_t>(i)]->setVisible(i == selected);
}

void Form1::prefsChk_Click(int index) {
  switch (index) {
    case 0: {
      const bool on = prefsChk_[0]->checkState() != Qt::Unchecked;
      prefsChk_[1]->setEnabled(on);
      prefsChk_[2]->setEnabled(on);
      const bool away = prefsChk_[2]->checkState() != Qt::Unchecked && on;
      prefsRad_[0]->setEnabled(away);
      prefsRad_[1]->setEnabled(away);
      for (QWidget* w :
           {static_cast<QWidget*>(prefsLabel_[2]), static_cast<QWidget*>(prefsLabel_[1]),
            static_cast<QWidget*>(prefsLabel_[3]), static_cast<QWidget*>(prefsText_[1]),
            static_cast<QWidget*>(prefsScroll_)}) {
        w->setEnabled(on);
      }
      break;
    }
    case 2: {
      const bool away = prefsChk_[2]->checkState() != Qt::Unchecked;
      prefsRad_[0]->setEnabled(away);
      prefsRad_[1]->setEnabled(away);
      break;
    }
    case 3:
      if (prefsChk_[3]->checkState() == Qt::Checked) {
        tray_->Add();
      } else {
        tray_->Remove();
      }
      break;
    default:
      break;
  }
}

void Form1::prefsText_Change(int index) {
  if (index == 0) PortChange();
  if (index == 1) IntervalChange();
}

void Form1::PortChange() {
  QLineEdit* box = prefsText_[0];
  const QString text = box->text();
  if (!text.isEmpty()) {
    if (!PortNumber(text)) {
      // Not a port: the box goes back to the last port it held, and nothing restarts.
      const int cursor =
          box->cursorPosition() - static_cast<int>(text.size() - lastPortText_.size());
      const QSignalBlocker blocker(box);
      box->setText(lastPortText_);
      box->setCursorPosition(std::clamp(cursor, 0, static_cast<int>(lastPortText_.size())));
      return;
    }
    lastPortText_ = text;
  }
  // While the client is connected the text only waits for the next start.
  if (proxy_ != nullptr && monitor_ != nullptr && proxy_->Connection(monitor_->ActiveSlot())) {
    return;
  }
  if (text.isEmpty()) box->setText(QStringLiteral("1100"));  // runs this reaction again
  if (proxy_ == nullptr) return;
  proxy_->StopListen();
  log_.ListAdd("Port Changed");
  QCoreApplication::processEvents();
  if (unloaded_) return;  // the window closed meanwhile: the listener stays stopped
  if (const auto port = PortNumber(box->text())) proxy_->StartListen(*port);
}

void Form1::IntervalChange() {
  QLineEdit* box = prefsText_[1];
  if (box->text().isEmpty()) box->setText(QStringLiteral("3000"));  // runs this reaction again
  const std::optional<int> interval = WholeNumber(box->text());
  if (!interval || *interval > prefsScroll_->maximum()) {
    box->setText(QString::number(kSpinMax - prefsScroll_->value()));  // runs this reaction again
  } else {
    prefsScroll_->setValue(kSpinMax - *interval);
  }
  if (const auto now = WholeNumber(box->text())) SetCheckTimerInterval(*now);
}

void Form1::prefsScroll_Change() {
  prefsText_[1]->setText(QString::number(kSpinMax - prefsScroll_->value()));
  if (const auto interval = WholeNumber(prefsText_[1]->text())) SetCheckTimerInterval(*interval);
}

void Form1::SetCheckTimerInterval(int milliseconds) {
  checkTimer_.setInterval(milliseconds);
  if (milliseconds > 0 && !unloaded_) {
    checkTimer_.start();
  } else {
    checkTimer_.stop();  // an interval of 0 stops the updates
  }
}

void Form1::prefsButton_Click() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!fileBrowseName_.isEmpty()) dialog.selectFile(fileBrowseName_);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    fileBrowseName_ = dialog.selectedFiles().constFirst();
  } else if (fileBrowseName_.isEmpty()) {
    return;  // cancelled before any file was chosen: the box keeps its text
  }
  prefsText_[2]->setText(QDir::toNativeSeparators(fileBrowseName_));
}

bool Form1::repText_KeyPress(int index, const QKeyEvent& key) const {
  if (index < 5 || index > 9) return true;
  if (key.key() == Qt::Key_Backspace)
    return repText_[static_cast<std::size_t>(index)]->text().size() > 1;
  if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) return true;  // focus moves on
  const QString typed = key.text();
  if (typed.isEmpty()) return true;  // Delete, arrows and other keys without a character
  return typed.size() == 1 && typed[0] >= QLatin1Char('0') && typed[0] <= QLatin1Char('9');
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    for (int i = 0; i < static_cast<int>(repText_.size()); ++i) {
      if (watched == repText_[static_cast<std::size_t>(i)] &&
          !repText_KeyPress(i, *static_cast<QKeyEvent*>(event))) {
        return true;  // discarded
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Tray and minimising

void Form1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Without a notification area the window stays on the task bar, so it can always be reached.
  const auto hidesToTray = [this] {
    return isMinimized() && prefsChk_[3]->checkState() == Qt::Checked && TrayAvailable();
  };
  if (event->type() != QEvent::WindowStateChange || !hidesToTray()) return;
  // Hidden once the window system has finished minimising, if the tray box is still ticked then.
  QMetaObject::invokeMethod(
      this,
      [this, hidesToTray] {
        if (!hidesToTray()) return;
        hide();
        setWindowState(windowState() & ~Qt::WindowMinimized);
      },
      Qt::QueuedConnection);
}

void Form1::RestoreFromTray() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

// ---------------------------------------------------------------------------------------------
// The event log

void Form1::LineAdded(int row, const std::string& line) {
  mesList_->insertItem(row, FromUtf8(line));
}

void Form1::LineChanged(int row, const std::string& line) {
  if (QListWidgetItem* item = mesList_->item(row)) item->setText(FromUtf8(line));
}

void Form1::Cleared() {
  mesList_->clear();
}

// ---------------------------------------------------------------------------------------------
// The settings that composition reads

FieldFormat Form1::Field(MediaField field) const {
  return PreferencesSettings(ControlValues()).Field(field);
}
bool Form1::LimitOnly() const {
  return PreferencesSettings(ControlValues()).LimitOnly();
}
bool Form1::BufferOn() const {
  return PreferencesSettings(ControlValues()).BufferOn();
}
Bytes Form1::BufferText() const {
  return PreferencesSettings(ControlValues()).BufferText();
}
Bytes Form1::BlockToken() const {
  return PreferencesSettings(ControlValues()).BlockToken();
}
Bytes Form1::Block() const {
  return PreferencesSettings(ControlValues()).Block();
}
bool Form1::Enabled() const {
  return PreferencesSettings(ControlValues()).Enabled();
}
bool Form1::ProfileUpdates() const {
  return PreferencesSettings(ControlValues()).ProfileUpdates();
}
bool Form1::AwayUpdates() const {
  return PreferencesSettings(ControlValues()).AwayUpdates();
}
bool Form1::AwayUsesBlock() const {
  return PreferencesSettings(ControlValues()).AwayUsesBlock();
}

}  // namespace quorvel
