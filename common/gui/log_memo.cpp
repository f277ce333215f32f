#include "common/gui/log_memo.h"

#include <QScrollBar>

namespace common {

LogMemo::LogMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setMaximumBlockCount(kMaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFont(QStringLiteral("Monospace")));
}

void LogMemo::AppendLine(const QString& line) {
    appendPlainText(line);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace common
