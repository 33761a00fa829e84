// Renders every page of the main window to a PNG and checks it against the layout: the window's
// size, every control inside its page, no two controls overlapping, something drawn where each
// control stands, and the red labels red. The pictures go to QUORVEL_SCREENSHOT_DIR (the build
// folder unless set; docs/screenshots holds a committed copy).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "app/form1.h"

namespace quorvel::testing {
namespace {

QString ScreenshotDir() {
  const QString dir = qEnvironmentVariable("QUORVEL_SCREENSHOT_DIR");
  return dir.isEmpty() ? QStringLiteral(QUORVEL_SCREENSHOT_DIR) : dir;
}

// True when the image holds more than one colour inside `area`.
bool SomethingDrawn(const QImage& image, const QRect& area) {
  const QRgb first = image.pixel(area.topLeft());
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) != first) return true;
    }
  }
  return false;
}

bool HasRed(const QImage& image, const QRect& area) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 90 && c.blue() < 90) return true;
    }
  }
  return false;
}

TEST(WindowLayout, EveryPageRendersWithItsControlsInsideAndApart) {
  EventLog log;
  log.ListAdd("Socket (1): Local Socket Closed");
  log.ListAdd("Port Changed");
  Form1 form(log);
  form.show();
  EXPECT_EQ(form.size(), QSize(457, 161));  // 6855 by 2415 twips
  EXPECT_EQ(form.windowTitle(), " [ Not Signed On ] - Quorvel");
  // The icon is drawn from the program's resources, for the window and the tray alike.
  EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
  const auto* tray = form.findChild<QSystemTrayIcon*>(QStringLiteral("SysTray"));
  ASSERT_NE(tray, nullptr);
  EXPECT_FALSE(tray->icon().pixmap(32, 32).isNull());
  EXPECT_EQ(tray->toolTip(), " Quorvel ");

  auto* pages = form.findChild<QListWidget*>(QStringLiteral("master_list"));
  ASSERT_NE(pages, nullptr);
  ASSERT_EQ(pages->count(), kPageCount);
  const QStringList files = {"events", "preferences", "replace", "replace-continued", "about"};
  ASSERT_TRUE(QDir().mkpath(ScreenshotDir()));

  for (int i = 0; i < kPageCount; ++i) {
    SCOPED_TRACE(pages->item(i)->text().toStdString());
    pages->setCurrentRow(i);
    auto* page = form.findChild<QWidget*>(QStringLiteral("Frames_%1").arg(i));
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->isVisible());
    EXPECT_TRUE(form.rect().contains(page->geometry()));
    EXPECT_FALSE(page->geometry().intersects(pages->geometry()));

    const QImage shot = form.grab().toImage();
    EXPECT_TRUE(
        shot.save(QDir(ScreenshotDir()).filePath(QStringLiteral("window-%1.png").arg(files[i]))));
    const QImage image = page->grab().toImage();

    const QList<QWidget*> controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_FALSE(controls.isEmpty());
    for (const QWidget* control : controls) {
      const std::string name = control->objectName().toStdString();
      EXPECT_FALSE(name.empty());
      EXPECT_TRUE(control->isVisible()) << name;
      EXPECT_TRUE(page->rect().contains(control->geometry())) << name;
      EXPECT_TRUE(SomethingDrawn(image, control->geometry())) << name;
      for (const QWidget* other : controls) {
        if (other != control) {
          EXPECT_FALSE(control->geometry().intersects(other->geometry()))
              << name << " overlaps " << other->objectName().toStdString();
        }
      }
    }
    // Captions fit their places: nothing is cut off.
    for (const QWidget* control : controls) {
      if (control->inherits("QLabel") || control->inherits("QAbstractButton")) {
        if (control->inherits("QPushButton")) continue;  // button captions are centred
        EXPECT_LE(control->sizeHint().width(), control->width())
            << control->objectName().toStdString() << " is cut off";
      }
    }
    for (const char* red : {"prefsLabel_3", "repIILabel_2"}) {
      if (const auto* label = page->findChild<QLabel*>(QLatin1String(red))) {
        EXPECT_TRUE(HasRed(image, label->geometry())) << red;
      }
    }
    for (const auto* label : page->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
      if (label->objectName() == QLatin1String("prefsLabel_3") ||
          label->objectName() == QLatin1String("repIILabel_2")) {
        continue;
      }
      EXPECT_FALSE(HasRed(image, label->geometry())) << label->objectName().toStdString();
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
