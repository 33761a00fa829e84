#pragma once
// Takes the place of the desktop's associated programs for one URL scheme while it lives, and
// records what it was asked to open.

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace quorvel::testing {

class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  explicit UrlRecorder(const QString& scheme) : scheme_(scheme) {
    QDesktopServices::setUrlHandler(scheme_, this, "Open");
  }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme_); }

  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }

 private:
  QString scheme_;
};

}  // namespace quorvel::testing
