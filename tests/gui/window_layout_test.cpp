// The window's layout: every page is rendered to a PNG in QUORVEL_SCREENSHOT_DIR (the build
// folder unless set; docs/screenshots holds a committed copy) and checked: the window's size,
// every control inside its page, no two controls overlapping, captions that fit, something drawn
// where each control stands, and the two warnings (and no other label) red.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QSystemTrayIcon>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "gui/main_window.h"

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

TEST(WindowLayout, EveryPageRendersWithItsControlsInsideAndApart) {
  EventLog log;
  log.ListAdd("Socket (1): Local Socket Closed");
  log.ListAdd("Port Changed");
  MainWindow form(log);
  form.show();
  EXPECT_EQ(form.size(), QSize(457, 214));
  // The icon is drawn from the program's resources, for the window and the tray alike.
  EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
  EXPECT_FALSE(form.findChild<QSystemTrayIcon*>()->icon().pixmap(32, 32).isNull());

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
    const auto& [pageName, file] = pageFiles[i];
    SCOPED_TRACE(pageName);
    pages->setCurrentRow(i);
    auto* page = form.findChild<QWidget*>(QLatin1String(pageName));
    ASSERT_TRUE(page != nullptr && page->isVisible());
    EXPECT_TRUE(form.rect().contains(page->geometry()));
    EXPECT_FALSE(page->geometry().intersects(pages->geometry()));
    EXPECT_TRUE(form.grab().save(dir.filePath("window-" + file + ".png")));

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

}  // namespace
}  // namespace quorvel::testing
