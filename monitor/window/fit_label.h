// A value label that never widens its window: it asks for room for a typical value only, draws
// what does not fit cut with "..." and offers the whole text as its tooltip. text() stays whole.
#pragma once

#include <QLabel>
#include <QString>

namespace monitor {

// The longest number a value label shows; a longer one (1e300 in a record) shows as "-".
inline constexpr int kMaxNumberChars = 12;

class FitLabel : public QLabel {
    Q_OBJECT
  public:
    // `chars`: how many digits wide the label asks to be.
    FitLabel(const QString& text, int chars, QWidget* parent = nullptr);

    // Shows `text`, cut to the label's width; the whole text is in the tooltip when cut.
    void SetFullText(const QString& text);
    bool IsCut() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QRect TextRect() const;
    void UpdateToolTip();

    int chars_;
};

// A display text whose leading number is longer than kMaxNumberChars becomes "-".
QString WithinNumberLength(const QString& text);

}  // namespace monitor
