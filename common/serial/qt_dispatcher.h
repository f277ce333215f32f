// Dispatcher for the serial component in Qt programs: notifications run on the thread of
// `context` (normally the main window) and the worker waits until they have run. Called on
// that thread itself, the job runs at once instead of waiting for its own event loop.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include "common/serial/ser_comm.h"

namespace common {

// `context` must outlive the open period of every component using the dispatcher.
inline TSerDispatcher MakeQtDispatcher(QObject* context) {
    return MakeBlockingDispatcher(
        [context](std::function<void()> job) {
            QMetaObject::invokeMethod(context, std::move(job), Qt::QueuedConnection);
        },
        [context] { return QThread::currentThread() == context->thread(); });
}

}  // namespace common
