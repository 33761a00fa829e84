// The window's pages and controls: names, captions, defaults, fonts and places. Places are in
// twips (15 to a pixel at 96 dots per inch); Qt scales the pixels on high-density screens.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <cmath>

#include "gui/main_window.h"

namespace quorvel {
namespace {

int Px(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

// Converts each edge on its own, so that controls that meet in twips meet in pixels.
void Place(QWidget* widget, int left, int top, int width, int height) {
  const int x = Px(left);
  const int y = Px(top);
  widget->setGeometry(x, y, Px(left + width) - x, Px(top + height) - y);
}

QString Indexed(const char* name, int index) {
  return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

template <class Widget>
Widget* Make(QWidget* parent, const QString& objectName) {
  auto* widget = new Widget(parent);
  widget->setObjectName(objectName);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption) {
  auto* label = Make<QLabel>(parent, name);
  label->setText(caption);
  return label;
}

void MakeRed(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, QColor(0xff, 0, 0));
  widget->setPalette(palette);
}

QFont Arial(QFont font) {
  font.setFamily(QStringLiteral("Arial"));
  font.setPointSizeF(8.25);
  font.setStretch(QFont::Condensed);
  return font;
}

}  // namespace

void Form1::BuildEventsPage() {
  QFrame* page = Frames_[0];
  mesList_ = Make<QListWidget>(page, QStringLiteral("mesList"));
  Place(mesList_, 0, 0, 4815, 1785);
  mesLabel_ = MakeLabel(page, QStringLiteral("mesLabel"),
                        QStringLiteral("A List Of Events From Your Connection"));
  Place(mesLabel_, 480, 1920, 2895, 255);
  mesButton_ = Make<QPushButton>(page, QStringLiteral("mesButton"));
  mesButton_->setText(QStringLiteral("Clear"));
  Place(mesButton_, 3600, 1920, 1215, 255);
}

void Form1::BuildPreferencesPage() {
  QFrame* page = Frames_[1];
  const struct {
    const char* caption;
    bool checked;
    int left, top, width, height;
  } checks[] = {
      {"Enable Quorvel", true, 0, 0, 1815, 195},
      {"Show Winamp Stats In My Profile", true, 240, 240, 4215, 195},
      {"Show Winamp Stats In My Away Message ( Fake Away )", true, 240, 480, 4455, 195},
      {"Minimize To System Tray", true, 0, 1680, 2295, 195},
      {"Launch", false, 0, 1930, 855, 195},
  };
  for (int i = 0; i < 5; ++i) {
    const auto& c = checks[i];
    QCheckBox* box = Make<QCheckBox>(page, Indexed("prefsChk", i));
    box->setText(QString::fromLatin1(c.caption));
    box->setChecked(c.checked);
    Place(box, c.left, c.top, c.width, c.height);
    prefsChk_[static_cast<std::size_t>(i)] = box;
  }

  prefsRad_[0] = Make<QRadioButton>(page, Indexed("prefsRad", 0));
  prefsRad_[0]->setText(QStringLiteral("Use My Away Message"));
  Place(prefsRad_[0], 480, 720, 2655, 195);
  prefsRad_[1] = Make<QRadioButton>(page, Indexed("prefsRad", 1));
  prefsRad_[1]->setText(QStringLiteral("Use 'Replace Continued' Format For My Away Message"));
  Place(prefsRad_[1], 480, 960, 4335, 195);
  prefsRad_[0]->setChecked(true);

  const struct {
    const char* caption;
    int left, top, width, height;
  } labels[] = {
      {"Port:", 3600, 1695, 330, 195},
      {"Update Every ", 240, 1215, 1020, 195},
      {"Milliseconds ( 1/1000 Of A Second )", 2040, 1215, 2565, 195},
      // Starts where the interval box ends, so the two do not overlap by a pixel.
      {"* Setting This Value Too Small May Result In Rate Limiting", 360, 1455, 4095, 195},
      {"When Started", 3480, 1950, 990, 195},
  };
  for (int i = 0; i < 5; ++i) {
    const auto& l = labels[i];
    QLabel* label = MakeLabel(page, Indexed("prefsLabel", i), QString::fromLatin1(l.caption));
    Place(label, l.left, l.top, l.width, l.height);
    prefsLabel_[static_cast<std::size_t>(i)] = label;
  }
  MakeRed(prefsLabel_[3]);
  prefsLabel_[3]->setFont(Arial(prefsLabel_[3]->font()));

  const struct {
    const char* text;
    int left, top, width, height;
  } texts[] = {
      {"3131", 3960, 1680, 495, 255},
      // The spin control stands beside the interval box's right end (1800) instead of on it.
      {"5000", 1320, 1200, 480, 255},
      // Ends where the browse button begins.
      {"", 960, 1920, 2040, 255},
  };
  for (int i = 0; i < 3; ++i) {
    const auto& t = texts[i];
    QLineEdit* box = Make<QLineEdit>(page, Indexed("prefsText", i));
    box->setText(QString::fromLatin1(t.text));
    box->setFont(Arial(box->font()));
    Place(box, t.left, t.top, t.width, t.height);
    prefsText_[static_cast<std::size_t>(i)] = box;
  }

  prefsScroll_ = Make<QScrollBar>(page, QStringLiteral("prefsScroll"));
  prefsScroll_->setOrientation(Qt::Vertical);
  prefsScroll_->setRange(0, kSpinMax);
  prefsScroll_->setSingleStep(10);  // one click on an arrow: 10 milliseconds
  prefsScroll_->setPageStep(1000);
  prefsScroll_->setValue(kSpinMax - 5000);
  Place(prefsScroll_, 1800, 1200, 135, 255);

  prefsButton_ = Make<QPushButton>(page, QStringLiteral("prefsButton"));
  prefsButton_->setText(QStringLiteral("..."));
  QFont black = prefsButton_->font();
  black.setFamily(QStringLiteral("Arial Black"));
  black.setBold(true);
  prefsButton_->setFont(black);
  Place(prefsButton_, 3000, 1920, 375, 255);
}

void Form1::BuildReplacePage() {
  QFrame* page = Frames_[2];
  const struct {
    const char* caption;
    int left, top, width;
  } labels[] = {
      {"Replace:", 720, 0, 1080}, {"Artist:", 0, 265, 480},      {"Song:", 0, 625, 480},
      {"Status:", 0, 985, 480},   {"Formatting:", 1800, 0, 960}, {"Time:", 0, 1345, 480},
      {"Total:", 0, 1705, 480},   {"Length:", 2760, 0, 600},     {"Using:", 3360, 0, 720},
      {"Just.", 4080, 0, 735},
  };
  for (int i = 0; i < 10; ++i) {
    const auto& l = labels[i];
    QLabel* label = MakeLabel(page, Indexed("repLabel", i), QString::fromLatin1(l.caption));
    Place(label, l.left, l.top, l.width, 195);
    repLabel_[static_cast<std::size_t>(i)] = label;
  }

  const char* tokens[kMediaFieldCount] = {"%a", "%s", "%p", "%t", "%x"};
  for (int i = 0; i < kMediaFieldCount; ++i) {
    const int top = 240 + 360 * i;
    const auto field = static_cast<std::size_t>(i);

    QLineEdit* token = Make<QLineEdit>(page, Indexed("repText", i));
    token->setText(QString::fromLatin1(tokens[i]));
    Place(token, 480, top, 1215, 285);
    repText_[field] = token;

    QComboBox* caseBox = Make<QComboBox>(page, Indexed("repFormat", i));
    caseBox->setEditable(true);
    caseBox->setInsertPolicy(QComboBox::NoInsert);
    caseBox->addItems({QStringLiteral("None"), QStringLiteral("UPPER"), QStringLiteral("First Cap"),
                       QStringLiteral("lower")});
    caseBox->setCurrentIndex(kCaseNone);
    Place(caseBox, 1800, top, 855, 315);
    repFormat_[field] = caseBox;

    QLineEdit* length = Make<QLineEdit>(page, Indexed("repText", 5 + i));
    length->setText(QStringLiteral("0"));
    length->setAlignment(Qt::AlignCenter);
    Place(length, 2760, top, 495, 285);
    repText_[field + 5] = length;

    QLineEdit* pad = Make<QLineEdit>(page, Indexed("repText", 10 + i));
    pad->setText(QStringLiteral("_"));
    Place(pad, 3360, top, 495, 285);
    repText_[field + 10] = pad;

    QComboBox* justification = Make<QComboBox>(page, Indexed("repFormat", 5 + i));
    justification->setEditable(true);
    justification->setInsertPolicy(QComboBox::NoInsert);
    justification->addItems(
        {QStringLiteral("Center"), QStringLiteral("Left"), QStringLiteral("Right")});
    justification->setCurrentIndex(0);
    Place(justification, 3960, top, 855, 315);
    repFormat_[field + 5] = justification;
  }

  // The buffer row: the check box ends where the buffer box begins, and the box is as high as
  // the room left on the page.
  repCheck2_ = Make<QCheckBox>(page, QStringLiteral("repCheck2"));
  repCheck2_->setText(QStringLiteral("Buffer Variable With:"));
  Place(repCheck2_, 0, 2040, 1800, 255);
  repText_[15] = Make<QLineEdit>(page, Indexed("repText", 15));
  repText_[15]->setText(QStringLiteral("Text1"));
  Place(repText_[15], 1800, 2040, 855, 255);
  repCheck_ = Make<QCheckBox>(page, QStringLiteral("repCheck"));
  repCheck_->setText(QStringLiteral("Limit Size Only"));
  Place(repCheck_, 2760, 2040, 2055, 195);
}

void Form1::BuildReplaceContinuedPage() {
  QFrame* page = Frames_[3];
  repIILabel_[0] = MakeLabel(page, Indexed("repIILabel", 0), QStringLiteral("Replace:"));
  Place(repIILabel_[0], 0, 30, 645, 255);
  repIIToken_ = Make<QLineEdit>(page, Indexed("repIIText", 0));
  repIIToken_->setText(QStringLiteral("What You Want Replaced"));
  Place(repIIToken_, 720, 0, 4095, 285);
  repIILabel_[1] = MakeLabel(page, Indexed("repIILabel", 1), QStringLiteral("With:"));
  Place(repIILabel_[1], 0, 330, 375, 195);
  repIILabel_[2] = MakeLabel(page, Indexed("repIILabel", 2),
                             QStringLiteral("*Variables From 'Replace' Can Be Used Below"));
  MakeRed(repIILabel_[2]);
  Place(repIILabel_[2], 1560, 330, 3270, 195);
  repIIBlock_ = Make<QPlainTextEdit>(page, Indexed("repIIText", 1));
  Place(repIIBlock_, 0, 600, 4815, 1605);
}

void Form1::BuildAboutPage() {
  Label1_ = MakeLabel(Frames_[4], QStringLiteral("Label1"),
                      QStringLiteral("Quorvel %1, by its developers").arg(QUORVEL_VERSION));
  Place(Label1_, 0, 0, 2700, 195);
}

}  // namespace quorvel
