#pragma once
// A one-line label that shortens its text with an ellipsis when the text is wider than the label,
// and shows the whole text as its tooltip, so that a long path or status never widens the window.

#include <QLabel>

namespace quorvel {

class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

  // Sets the whole text (plain text, never markup) and its tooltip.
  void SetFullText(const QString& text);

  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::TextElideMode mode_;
};

}  // namespace quorvel
