#pragma once
// Takes the place of the desktop's programs for one URL scheme and records what they were given.

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace quorvel::testing {

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  explicit UrlRecorder(const char* s) : scheme(QString::fromLatin1(s)) {
    QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme); }
  const QString scheme;
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

}  // namespace quorvel::testing
