// The scrolling log both windows carry: read-only, appends a line, shows the newest,
// keeps a bounded number of lines so a long flight does not grow it without limit.
#pragma once

#include <QPlainTextEdit>

namespace common {

class LogMemo : public QPlainTextEdit {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 10000;
    explicit LogMemo(QWidget* parent = nullptr);
    void AppendLine(const QString& line);
};

}  // namespace common
