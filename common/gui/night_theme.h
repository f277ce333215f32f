// The windows' night theme: a dark palette on a window and all it holds (plots and pictures
// paint from its roles), so that a screen in a dark car or station does not dazzle.
#pragma once

class QWidget;

namespace common {

// Dark palette on `window`, or back to its style's own.
void ApplyNightTheme(QWidget* window, bool on);
// The palette in effect on `w` is a dark one.
bool IsNight(const QWidget& w);

}  // namespace common
