// The Qt dispatcher: notifications from the worker threads run on the event loop's thread,
// and a call made on that thread runs at once instead of waiting for itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <stop_token>
#include <thread>

#include "common/serial/qt_dispatcher.h"
#include "serial_test_support.h"

namespace common {
namespace {

TEST(QtDispatcher, RxCharRunsOnTheEventLoop) {
    serial_test::Pty pty;
    QObject window;
    TSerComm comm;
    comm.SetDispatcher(MakeQtDispatcher(&window));
    comm.SetDeviceName(pty.slave_path);
    std::string got;
    bool on_main = false;
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        sender.ReadText(got);
        on_main = QThread::currentThread() == window.thread();
        QCoreApplication::quit();
    };
    comm.Open();
    pty.Send("$GP");
    QTimer::singleShot(10000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_EQ(got, "$GP");
    EXPECT_TRUE(on_main);
    comm.Close();
}

TEST(QtDispatcher, OwnThreadRunsInlineAndStopReleasesAWaitingWorker) {
    QObject window;
    TSerDispatcher dispatch = MakeQtDispatcher(&window);
    std::stop_source stop;
    bool ran = false;
    dispatch([&] { ran = true; }, stop.get_token());
    EXPECT_TRUE(ran);

    // No event loop is running: the worker waits until stop is requested.
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        dispatch([] {}, stop.get_token());
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    stop.request_stop();
    worker.join();
    EXPECT_TRUE(returned.load());
    QCoreApplication::processEvents();  // the late job still runs harmlessly
}

}  // namespace
}  // namespace common

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
