// The window's layout: every page is rendered to a PNG in QUORVEL_SCREENSHOT_DIR (the build
// folder unless set; docs/screenshots holds a committed copy) and checked: every control inside
// its page, drawn, apart from the others, its caption fitting, and the two warnings (and no other
// label) red.

#include <gtest/gtest.h>

#include <functional>
#include <string>

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

TEST_F(WindowLayout, EveryPageRendersWithItsControlsInsideAndApartAndTheEventListGrows) {
  MainWindow& form = *window;
  form.show();
  EXPECT_EQ(form.minimumSize(), form.size());  // it never gets smaller than drawn
  EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull() || Tray()->icon().pixmap(32, 32).isNull());
  const QDir dir(qEnvironmentVariable("QUORVEL_SCREENSHOT_DIR", QUORVEL_SCREENSHOT_DIR));
  ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
  const char* const pictures[] = {"events", "preferences", "replace", "replaceContinued", "about"};
  auto isRed = [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90; };
  auto* pages = form.findChild<QListWidget*>(QStringLiteral("pageList"));
  ASSERT_EQ(pages->count(), 5);
  for (int i = 0; i < pages->count(); ++i) {
    SCOPED_TRACE(pictures[i]);
    pages->setCurrentRow(i);
    QWidget* page = Get(qPrintable(QStringLiteral("%1Page").arg(pictures[i])));
    ASSERT_TRUE(page->isVisible());
    const QRect placed(page->mapTo(&form, QPoint()), page->size());
    EXPECT_TRUE(form.rect().contains(placed) && !placed.intersects(pages->geometry()));
    EXPECT_TRUE(form.grab().save(
        dir.filePath("window-" + QString(pictures[i]).replace("C", "-c") + ".png")));
    const QImage image = page->grab().toImage();
    const auto controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
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
      EXPECT_TRUE(!captioned || control->sizeHint().width() <= control->width()) << name;
      const bool warning = name == "rateLimitWarning" || name == "blockHint";
      EXPECT_EQ(control->inherits("QLabel") && AnyPixel(image, area, isRed), warning) << name;
    }
  }
  // A larger window gives the room to the event list.
  pages->setCurrentRow(0);
  const QSize events = Get("eventList")->size();
  form.resize(form.size() + QSize(300, 200));
  QCoreApplication::processEvents();
  EXPECT_EQ(Get("eventList")->size(), events + QSize(300, 200));
}

}  // namespace
}  // namespace quorvel::testing
