// The window's pages and controls: names, captions, fonts and places. Places are in twips (15 to
// a pixel at 96 dots per inch); Qt scales the pixels on high-density screens. The controls'
// values come from the default settings, set when the controls are bound. The window can grow:
// the page list and the Events page take the room; the other pages keep their place and size.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <cmath>

#include "gui/elided_label.h"
#include "gui/main_window.h"

namespace quorvel {
namespace {

struct Twips {
  int left, top, width, height;
};

int Px(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

// Converts each edge on its own, so that controls that meet in twips meet in pixels.
void Place(QWidget* widget, Twips place) {
  const int x = Px(place.left);
  const int y = Px(place.top);
  widget->setGeometry(x, y, Px(place.left + place.width) - x, Px(place.top + place.height) - y);
}

template <class Widget>
Widget* Make(QWidget* parent, const QString& objectName, Twips place) {
  auto* widget = new Widget(parent);
  widget->setObjectName(objectName);
  Place(widget, place);
  return widget;
}

// A label, check box, option button or push button with its caption.
template <class Widget>
Widget* Make(QWidget* parent, const QString& objectName, const char* caption, Twips place) {
  auto* widget = Make<Widget>(parent, objectName, place);
  widget->setText(QString::fromLatin1(caption));
  return widget;
}

QComboBox* MakeCombo(QWidget* parent, const QString& objectName, const QStringList& items,
                     Twips place) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(objectName);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  // The text stays as typed: no completion, and Enter matches an item only case for case.
  combo->setCompleter(nullptr);
  combo->addItems(items);
  Place(combo, place);
  return combo;
}

void MakeRed(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, QColor(0xff, 0, 0));
  widget->setPalette(palette);
}

void UseArial(QWidget* widget) {
  QFont font = widget->font();
  font.setFamily(QStringLiteral("Arial"));
  font.setPointSizeF(8.25);
  font.setStretch(QFont::Condensed);
  widget->setFont(font);
}

// The names of each media field's controls, in MediaField order.
constexpr const char* kFieldNames[kMediaFieldCount] = {"artist", "song",      "status",
                                                       "time",   "totalTime", "album"};
constexpr const char* kFieldCaptions[kMediaFieldCount] = {
    "Artist:", "Song:", "Status:", "Time:", "Total:", "Album:"};

// Every page's height; the window is as high as the pages and the margin above them. The Events
// and Replace Continued pages give the room they gain to their list and their block.
constexpr int kPageHeight = 3090;
constexpr int kPageGrowth = kPageHeight - 2295;

// The player is Winamp on Windows and any media player elsewhere.
#if defined(Q_OS_WIN)
constexpr const char* kProfileStatsCaption = "Show Winamp Stats In My Profile";
constexpr const char* kAwayStatsCaption = "Show Winamp Stats In My Away Message ( Fake Away )";
#else
constexpr const char* kProfileStatsCaption = "Show Media Player Stats In My Profile";
constexpr const char* kAwayStatsCaption =
    "Show Media Player Stats In My Away Message ( Fake Away )";
#endif

}  // namespace

void MainWindow::BuildPageList() {
  pageList_ = Make<QListWidget>(this, "pageList", {120, 120, 1575, kPageHeight - 120});
  pageList_->setFixedWidth(Px(1575));
  pageArea_ = Make<QWidget>(this, "pageArea", {1800, 120, 4935, kPageHeight});
  pageArea_->setMinimumSize(Px(4935), Px(kPageHeight));
}

QFrame* MainWindow::AddPage(const char* title, int widthTwips) {
  pageList_->addItem(QString::fromLatin1(title));
  QString name = QString::fromLatin1(title).remove(QLatin1Char(' ')) + QStringLiteral("Page");
  name[0] = name[0].toLower();
  auto* page = Make<QFrame>(pageArea_, name, {0, 0, widthTwips, kPageHeight});
  page->hide();
  pages_.push_back(page);
  return page;
}

// The list takes every pixel the window gives the page; the caption and the button stay below.
void MainWindow::BuildEventsPage(QFrame* page) {
  // The caption and the button stand at the foot of the page, as on the other pages.
  const int footTop = kPageHeight - 375;
  eventList_ = Make<QListWidget>(page, "eventList", {0, 0, 4815, footTop - 135});
  auto* caption = Make<QLabel>(page, "eventsCaption", "A List Of Events From Your Connection",
                               {480, footTop, 2895, 255});
  clearEventsButton_ =
      Make<QPushButton>(page, "clearEventsButton", "Clear", {3600, footTop, 1215, 255});
  clearEventsButton_->setFixedSize(Px(1215), Px(255));
  caption->setFixedHeight(Px(255));

  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, Px(4935 - 4815), 0);
  column->setSpacing(Px(135));
  column->addWidget(eventList_, 1);
  auto* row = new QHBoxLayout();
  row->setContentsMargins(Px(480), 0, 0, Px(kPageHeight - footTop - 255));
  row->addWidget(caption);
  row->addStretch(1);
  row->addWidget(clearEventsButton_);
  column->addLayout(row);
}

// Top to bottom: the switches, the away options, the interval with its warning, a free row under
// them for a further update switch, the tray and port, the launch file, the desktop session, and
// the media player's choice.
void MainWindow::BuildPreferencesPage(QFrame* page) {
  enableBox_ = Make<QCheckBox>(page, "enableBox", "Enable Quorvel", {0, 0, 1815, 195});
  profileStatsBox_ =
      Make<QCheckBox>(page, "profileStatsBox", kProfileStatsCaption, {240, 240, 4215, 195});
  awayStatsBox_ = Make<QCheckBox>(page, "awayStatsBox", kAwayStatsCaption, {240, 480, 4575, 195});
  trayBox_ = Make<QCheckBox>(page, "trayBox", "Minimize To System Tray", {0, 1920, 2295, 195});
  launchBox_ = Make<QCheckBox>(page, "launchBox", "Launch", {0, 2170, 855, 195});
  autostartBox_ =
      Make<QCheckBox>(page, "autostartBox", "Start with my desktop session", {0, 2445, 3015, 195});

  ownAwayRadio_ =
      Make<QRadioButton>(page, "ownAwayRadio", "Use My Away Message", {480, 720, 2655, 195});
  blockAwayRadio_ = Make<QRadioButton>(page, "blockAwayRadio",
                                       "Use 'Replace Continued' Format For My Away Message",
                                       {480, 960, 4335, 195});

  Make<QLabel>(page, "portLabel", "Port:", {3600, 1935, 330, 195});
  intervalLabel_ = Make<QLabel>(page, "intervalLabel", "Update Every ", {240, 1215, 1020, 195});
  intervalUnitLabel_ = Make<QLabel>(page, "intervalUnitLabel",
                                    "Milliseconds ( 1/1000 Of A Second )", {2040, 1215, 2565, 195});
  // Starts where the interval box ends, so the two do not overlap by a pixel.
  rateLimitWarning_ = Make<QLabel>(page, "rateLimitWarning",
                                   "* Setting This Value Too Small May Result In Rate Limiting",
                                   {360, 1455, 4095, 195});
  MakeRed(rateLimitWarning_);
  UseArial(rateLimitWarning_);
  sendOnChangeBox_ = Make<QCheckBox>(page, "sendOnChangeBox", "Send Only What Has Changed",
                                     {240, 1680, 3015, 195});
  sendOnChangeBox_->setToolTip(QStringLiteral(
      "Each update goes out only when the profile or away message it carries differs from the "
      "last one sent, which keeps clear of the server's rate limits"));
  Make<QLabel>(page, "launchWhenLabel", "When Started", {3480, 2190, 990, 195});

  portEdit_ = Make<QLineEdit>(page, "portEdit", {3960, 1920, 495, 255});
  // The spin control stands beside the interval box's right end (1800) instead of on it.
  intervalEdit_ = Make<QLineEdit>(page, "intervalEdit", {1320, 1200, 480, 255});
  // Ends where the browse button begins.
  launchPathEdit_ = Make<QLineEdit>(page, "launchPathEdit", {960, 2160, 2040, 255});
  for (QLineEdit* edit : {portEdit_, intervalEdit_, launchPathEdit_}) UseArial(edit);

  intervalSpin_ = Make<QScrollBar>(page, "intervalSpin", {1800, 1200, 135, 255});
  intervalSpin_->setOrientation(Qt::Vertical);
  intervalSpin_->setRange(0, kSpinMax);
  intervalSpin_->setSingleStep(10);  // one click on an arrow: 10 milliseconds
  intervalSpin_->setPageStep(1000);

  browseButton_ = Make<QPushButton>(page, "browseButton", "...", {3000, 2160, 375, 255});
  QFont black = browseButton_->font();
  black.setFamily(QStringLiteral("Arial Black"));
  black.setBold(true);
  browseButton_->setFont(black);

  // The players present are listed as they come and go; any other name may be typed.
  Make<QLabel>(page, "playerComboLabel", "Player:", {0, 2730, 555, 195});
  playerCombo_ = MakeCombo(page, "playerCombo", {QString::fromLatin1(kAutomaticPlayer)},
                           {600, 2700, 1575, 315});
  playerCombo_->setToolTip(QStringLiteral(
      "The media player to read; Automatic reads one that is playing, else one that is paused"));
  Make<QLabel>(page, "ignorePlayersLabel", "Ignore:", {2280, 2730, 495, 195});
  ignorePlayersEdit_ = Make<QLineEdit>(page, "ignorePlayersEdit", {2820, 2700, 1995, 285});
  ignorePlayersEdit_->setPlaceholderText(QStringLiteral("firefox, chromium"));
  ignorePlayersEdit_->setToolTip(
      QStringLiteral("Media players never to read, their names separated by commas"));
}

void MainWindow::BuildReplacePage(QFrame* page) {
  const struct {
    const char* name;
    const char* caption;
    Twips place;
  } headings[] = {
      {"replaceHeading", "Replace:", {720, 0, 1080, 195}},
      {"formattingHeading", "Formatting:", {1800, 0, 960, 195}},
      {"lengthHeading", "Length:", {2760, 0, 600, 195}},
      {"padHeading", "Using:", {3360, 0, 720, 195}},
      {"justifyHeading", "Just.", {4080, 0, 735, 195}},
  };
  for (const auto& heading : headings) {
    Make<QLabel>(page, heading.name, heading.caption, heading.place);
  }

  for (int i = 0; i < kMediaFieldCount; ++i) {
    const int top = 240 + 360 * i;
    const QString name = QLatin1String(kFieldNames[i]);
    Make<QLabel>(page, name + QStringLiteral("Label"), kFieldCaptions[i], {0, top + 25, 480, 195});
    FieldRow& row = fieldRows_[static_cast<std::size_t>(i)];
    row.tokenEdit =
        Make<QLineEdit>(page, name + QStringLiteral("TokenEdit"), {480, top, 1215, 285});
    row.caseCombo = MakeCombo(page, name + QStringLiteral("CaseCombo"),
                              {QStringLiteral("None"), QStringLiteral("UPPER"),
                               QStringLiteral("First Cap"), QStringLiteral("lower")},
                              {1800, top, 855, 315});
    row.lengthEdit =
        Make<QLineEdit>(page, name + QStringLiteral("LengthEdit"), {2760, top, 495, 285});
    row.lengthEdit->setAlignment(Qt::AlignCenter);
    row.padEdit = Make<QLineEdit>(page, name + QStringLiteral("PadEdit"), {3360, top, 495, 285});
    row.justifyCombo =
        MakeCombo(page, name + QStringLiteral("JustifyCombo"),
                  {QStringLiteral("Center"), QStringLiteral("Left"), QStringLiteral("Right")},
                  {3960, top, 855, 315});
  }

  // The buffer row, under the last field's: the check box ends where the buffer box begins.
  const int bufferTop = 240 + 360 * kMediaFieldCount;
  bufferBox_ =
      Make<QCheckBox>(page, "bufferBox", "Buffer Variable With:", {0, bufferTop, 1800, 255});
  bufferTextEdit_ = Make<QLineEdit>(page, "bufferTextEdit", {1800, bufferTop, 855, 255});
  limitBox_ = Make<QCheckBox>(page, "limitBox", "Limit Size Only", {2760, bufferTop, 2055, 195});
}

void MainWindow::BuildReplaceContinuedPage(QFrame* page) {
  Make<QLabel>(page, "blockTokenLabel", "Replace:", {0, 30, 645, 255});
  blockTokenEdit_ = Make<QLineEdit>(page, "blockTokenEdit", {720, 0, 4095, 285});
  Make<QLabel>(page, "blockLabel", "With:", {0, 330, 375, 195});
  QLabel* hint = Make<QLabel>(page, "blockHint", "*Variables From 'Replace' Can Be Used Below",
                              {1560, 330, 3270, 195});
  MakeRed(hint);
  blockEdit_ = Make<QPlainTextEdit>(page, "blockEdit", {0, 600, 4815, 1605 + kPageGrowth});
}

// The version, then what a user asks when something does not work: which settings file, which
// player, which address. The status keeps the last three current.
void MainWindow::BuildAboutPage(QFrame* page) {
  auto* credit = Make<QLabel>(page, "creditLabel", {0, 0, 2700, 195});
  credit->setText(QStringLiteral("Quorvel %1, by its developers").arg(QUORVEL_VERSION));
  const auto line = [page](const char* name, int top, Qt::TextElideMode elide) {
    auto* label = new ElidedLabel(elide, page);
    label->setObjectName(QLatin1String(name));
    Place(label, {0, top, 4935, 195});
    return label;
  };
  settingsFileLabel_ = line("settingsFileLabel", 360, Qt::ElideMiddle);
  playerLabel_ = line("playerLabel", 600, Qt::ElideRight);
  listeningLabel_ = line("listeningLabel", 840, Qt::ElideRight);
}

void MainWindow::BuildStatusLines() {
  listenerStatus_ = new ElidedLabel(Qt::ElideRight, this);
  listenerStatus_->setObjectName(QStringLiteral("listenerStatus"));
  playerStatus_ = new ElidedLabel(Qt::ElideRight, this);
  playerStatus_->setObjectName(QStringLiteral("playerStatus"));
}

void MainWindow::ArrangeWindow() {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(Px(120), Px(120), Px(120), Px(60));
  grid->setHorizontalSpacing(Px(1800 - 120 - 1575));
  grid->setVerticalSpacing(0);
  grid->addWidget(pageList_, 0, 0);
  grid->addWidget(pageArea_, 0, 1);
  grid->setRowStretch(0, 1);
  grid->setRowMinimumHeight(1, Px(60));
  grid->addWidget(listenerStatus_, 2, 0, 1, 2);
  grid->addWidget(playerStatus_, 3, 0, 1, 2);

  // Every page on the same spot; only the selected one is shown.
  auto* stack = new QGridLayout(pageArea_);
  stack->setContentsMargins(0, 0, 0, 0);
  for (QFrame* page : pages_) {
    if (page == eventsPage_) {
      stack->addWidget(page, 0, 0);
    } else {
      page->setFixedSize(page->size());
      stack->addWidget(page, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    }
  }
  grid->activate();
  resize(grid->minimumSize());
}

}  // namespace quorvel
