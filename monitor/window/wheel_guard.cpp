#include "monitor/window/wheel_guard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

namespace monitor {

namespace {

class WheelGuard : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* w = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Wheel || !w || w->hasFocus()) return false;
        // Unfocused: the wheel is the scrolling column's, as if the control were not there.
        for (QWidget* up = w->parentWidget(); up; up = up->parentWidget())
            if (auto* area = qobject_cast<QAbstractScrollArea*>(up)) {
                QApplication::sendEvent(area->viewport(), event);
                break;
            }
        return true;
    }
};

}  // namespace

void GuardWheel(QWidget* root) {
    auto* guard = new WheelGuard(root);
    const auto guarded = [guard](QWidget* w) {
        w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
    };
    for (auto* spin : root->findChildren<QAbstractSpinBox*>()) guarded(spin);
    for (auto* combo : root->findChildren<QComboBox*>()) guarded(combo);
}

}  // namespace monitor
