// The window's layout: every page is rendered to a PNG in QUORVEL_SCREENSHOT_DIR (the build
// folder unless set; docs/screenshots holds a committed copy) and checked: the window's size,
// every control inside its page, no two controls overlapping, captions that fit, something drawn
// where each control stands, and the two warnings (and no other label) red. A larger window
// gives its room to the page list, the event list and the status lines; the other pages keep
// their arrangement.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "gui/window_fixture.h"

namespace quorvel::testing {
namespace {

// True when some pixel inside `area` passes `test`.
bool AnyPixel(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (test(image.pixel(x, y))) return true;
    }
  }
  return false;
}

// What the window shows in the pictures: a listener on 3131 with one client, a player playing.
struct WindowLayout : WindowTest {
  void SetUp() override {
    log.ListAdd("Socket (1): Local Socket Closed");
    log.ListAdd("Port Changed");
    trayAvailable = false;
    clients = 1;
    player.playing = {true, Track{"Artist", "Song"}, kPlayPlaying, 61000, 200};
    player.description = "MPRIS: vlc (org.mpris.MediaPlayer2.vlc)";
    WindowTest::SetUp();
  }
};

TEST_F(WindowLayout, EveryPageRendersWithItsControlsInsideAndApart) {
  MainWindow& form = *window;
  form.show();
  // 6855 twips wide, and the pages' 3210 twips high with the two status lines below.
  EXPECT_EQ(form.width(), 457);
  EXPECT_GE(form.height(), 214 + 2 * form.fontMetrics().height());
  EXPECT_EQ(form.minimumSize(), form.size());
  // The icon is drawn from the program's resources, for the window and the tray alike.
  EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
  EXPECT_FALSE(Tray()->icon().pixmap(32, 32).isNull());

  const QDir dir(qEnvironmentVariable("QUORVEL_SCREENSHOT_DIR", QUORVEL_SCREENSHOT_DIR));
  ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
  // Each page in the order of the page list, and the picture it is saved as.
  const std::pair<const char*, QString> pageFiles[] = {
      {"eventsPage", "events"},
      {"preferencesPage", "preferences"},
      {"replacePage", "replace"},
      {"replaceContinuedPage", "replace-continued"},
      {"aboutPage", "about"}};
  auto isRed = [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90; };
  auto* pages = form.findChild<QListWidget*>(QStringLiteral("pageList"));
  ASSERT_EQ(pages->count(), static_cast<int>(std::size(pageFiles)));
  for (int i = 0; i < pages->count(); ++i) {
    const auto& [pageName, picture] = pageFiles[i];
    SCOPED_TRACE(pageName);
    pages->setCurrentRow(i);
    auto* page = form.findChild<QWidget*>(QLatin1String(pageName));
    ASSERT_TRUE(page != nullptr && page->isVisible());
    const QRect placed(page->mapTo(&form, QPoint()), page->size());
    EXPECT_EQ(placed.topLeft(), QPoint(120, 8));  // 1800, 120 twips
    EXPECT_TRUE(form.rect().contains(placed));
    EXPECT_FALSE(placed.intersects(pages->geometry()));
    EXPECT_TRUE(form.grab().save(dir.filePath("window-" + picture + ".png")));

    const QImage image = page->grab().toImage();
    const auto controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_FALSE(controls.isEmpty());
    for (const QWidget* control : controls) {
      const std::string name = control->objectName().toStdString();
      const QRect area = control->geometry();
      EXPECT_TRUE(control->isVisible() && page->rect().contains(area)) << name;
      EXPECT_TRUE(AnyPixel(image, area, [&](QRgb p) { return p != image.pixel(area.topLeft()); }))
          << name << " is not drawn";
      for (const QWidget* other : controls)
        EXPECT_TRUE(other == control || !area.intersects(other->geometry()))
            << name << " overlaps " << qPrintable(other->objectName());
      // Captions fit their places (push buttons centre theirs and are left out).
      const bool captioned = QStringList{"QLabel", "QCheckBox", "QRadioButton"}.contains(
          control->metaObject()->className());
      EXPECT_TRUE(!captioned || control->sizeHint().width() <= control->width())
          << name << " is cut";
      const bool warning = name == "rateLimitWarning" || name == "blockHint";
      EXPECT_EQ(control->inherits("QLabel") && AnyPixel(image, area, isRed), warning) << name;
    }
  }
}

TEST_F(WindowLayout, ALargerWindowGrowsTheListsAndKeepsThePagesArranged) {
  MainWindow& form = *window;
  form.show();
  auto* pages = form.findChild<QListWidget*>(QStringLiteral("pageList"));
  // Every control of every page, where it stands in the window.
  const auto arrangement = [&] {
    std::vector<std::pair<std::string, QRect>> places;
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentRow(i);
      for (const QWidget* w : form.findChildren<QWidget*>()) {
        if (w->isVisible() && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")))
          places.emplace_back(w->objectName().toStdString(),
                              QRect(w->mapTo(&form, QPoint()), w->size()));
      }
    }
    return places;
  };
  const auto before = arrangement();

  form.resize(form.size() + QSize(300, 200));
  QCoreApplication::processEvents();
  const auto after = arrangement();
  ASSERT_EQ(before.size(), after.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    const auto& [name, was] = before[i];
    const QRect now = after[i].second;
    SCOPED_TRACE(name);
    if (name == "eventList") {
      EXPECT_EQ(now, QRect(was.topLeft(), was.size() + QSize(300, 200)));
    } else if (name == "clearEventsButton") {
      EXPECT_EQ(now, was.translated(300, 200));
    } else if (name == "eventsCaption") {
      EXPECT_EQ(now.topLeft(), was.topLeft() + QPoint(0, 200));
    } else if (name == "listenerStatus" || name == "playerStatus") {
      EXPECT_EQ(now, QRect(was.topLeft() + QPoint(0, 200), was.size() + QSize(300, 0)));
    } else if (name == "pageList" || name == "pageArea" || name == "eventsPage") {
      EXPECT_EQ(now.topLeft(), was.topLeft());
    } else {
      EXPECT_EQ(now, was);  // every other page keeps its arrangement
    }
  }
  // It never gets smaller than drawn.
  form.resize(100, 50);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.size(), form.minimumSize());
}

}  // namespace
}  // namespace quorvel::testing
