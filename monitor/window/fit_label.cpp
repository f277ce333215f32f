#include "monitor/window/fit_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace monitor {

namespace {
// A typical value ("995.4 hPa", "-12.5 m/s") fits the narrowest a label gets; only longer ones
// are cut.
constexpr int kMinChars = 9;
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

// Room for a typical value only: the layout may narrow the label that far rather than widen
// the window, and no text makes it ask for more.
QSize FitLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * std::min(chars_, kMinChars) +
                m.left() + m.right() + 2 * margin(),
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
