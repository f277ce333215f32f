// The window's values stand in a column that scrolls with the mouse wheel. A spin box or a
// drop-down list passing under the pointer must not take the wheel and change an alarm limit
// unseen: it takes the wheel only once clicked (focused), else the column scrolls.
#pragma once

class QWidget;

namespace monitor {

// For every spin box and drop-down list in `root`, now and as they are.
void GuardWheel(QWidget* root);

}  // namespace monitor
