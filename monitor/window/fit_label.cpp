#include "monitor/window/fit_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace monitor {

namespace {
constexpr int kMinChars = 4;
}  // namespace

FitLabel::FitLabel(const QString& text, int chars, QWidget* parent)
    : QLabel(text, parent), chars_(chars) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void FitLabel::SetFullText(const QString& text) {
    setText(text);
    UpdateToolTip();
}

QRect FitLabel::TextRect() const {
    return contentsRect().adjusted(margin(), margin(), -margin(), -margin());
}

bool FitLabel::IsCut() const {
    return fontMetrics().horizontalAdvance(text()) > TextRect().width();
}

void FitLabel::UpdateToolTip() {
    setToolTip(IsCut() ? text() : QString());
}

QSize FitLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * chars_ + m.left() + m.right() +
                2 * margin(),
            QLabel::sizeHint().height()};
}

// Room for a short value only: the layout may narrow the label rather than widen the window.
QSize FitLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * kMinChars + m.left() + m.right() +
                2 * margin(),
            QLabel::sizeHint().height()};
}

void FitLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = TextRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
    style()->drawItemText(&p, r, QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
}

void FitLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateToolTip();
}

QString WithinNumberLength(const QString& text) {
    qsizetype digits = 0;
    while (digits < text.size() &&
           (text[digits].isDigit() || text[digits] == QLatin1Char('.') ||
            text[digits] == QLatin1Char('-') || text[digits] == QLatin1Char('+')))
        ++digits;
    return digits > kMaxNumberChars ? QStringLiteral("-") : text;
}

}  // namespace monitor
