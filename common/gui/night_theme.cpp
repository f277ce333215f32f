#include "common/gui/night_theme.h"

#include <QPalette>
#include <QStyle>
#include <QWidget>

namespace common {

void ApplyNightTheme(QWidget* window, bool on) {
    if (!window) return;
    if (!on) {
        window->setPalette(window->style()->standardPalette());
        return;
    }
    QPalette p;
    const QColor text(205, 200, 190);
    p.setColor(QPalette::Window, QColor(28, 28, 30));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(16, 16, 18));
    p.setColor(QPalette::AlternateBase, QColor(36, 36, 38));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(44, 44, 46));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Highlight, QColor(120, 70, 40));
    p.setColor(QPalette::HighlightedText, QColor(240, 230, 220));
    p.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 145, 135));
    p.setColor(QPalette::Mid, QColor(70, 70, 72));
    p.setColor(QPalette::Dark, QColor(20, 20, 20));
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(110, 110, 110));
    window->setPalette(p);
}

bool IsNight(const QWidget& w) {
    return w.palette().color(QPalette::Window).lightness() < 128;
}

}  // namespace common
