#include "monitor/headless.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>
#include <ostream>

#include "common/net/quit_on_signal.h"
#include "monitor/io/live_link.h"

namespace monitor {

namespace {

constexpr int kTickMs = 1000;

// What the window shows in msglb and its status bar, as lines on standard error.
class HeadlessLiveView : public LiveLinkView {
  public:
    HeadlessLiveView(const StreamHandler& handler, std::ostream& err)
        : handler_(handler), err_(err) {}
    LiveLink* link = nullptr;
    int retryMs = kRetryIntervalMs;

    void tcpclientConnecting() override {}
    void tcpclientConnect(const QString&) override {
        err_ << "pelmora: connected to " << Where() << '\n';
        if (handler_.started) handler_.started();
        err_.flush();
    }
    void tcpclientError(const QString& detail, bool) override {
        err_ << "pelmora: no connection to " << Where() << " (" << detail.toStdString()
             << "), next attempt in " << retryMs / 1000 << " s\n";
        err_.flush();
    }
    void tcpclientRead(const QByteArray& bytes) override {
        handler_.bytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }

  private:
    std::string Where() const {
        const std::string host = link->Host().toStdString();
        const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
        return shown + ":" + std::to_string(link->Port());
    }
    const StreamHandler& handler_;
    std::ostream& err_;
};

// The reader's own lines: one per record, its messages and errors to `err`.
StreamHandler Printing(StreamReader& reader, RecordPrinter& printer, std::ostream& err) {
    StreamHandler h;
    h.started = [&reader, &err] {
        if (const std::size_t dropped = reader.StartStream())
            err << "pelmora: dropped " << dropped
                << " bytes of an unfinished record of the last connection\n";
    };
    h.bytes = [&reader, &printer](std::string_view bytes) { printer.Print(reader.Feed(bytes)); };
    return h;
}

}  // namespace

int RunLive(QCoreApplication& app, const std::string& serverText, const StreamHandler& handler,
            std::ostream& err, int retryMs) {
    common::QuitOnSignals quitOnSignals(app);
    if (!quitOnSignals.Ok()) {
        err << "pelmora: cannot set up signal handling\n";
        return 1;
    }
    HeadlessLiveView view(handler, err);
    LiveLink link(view);
    view.link = &link;
    view.retryMs = retryMs;
    link.SetRetryFromStart(true);
    link.SetRetryIntervalMs(retryMs);
    QString error;
    if (!link.Connect(QString::fromStdString(serverText), error)) {
        err << "pelmora: " << error.toStdString() << '\n';
        return 2;
    }
    QTimer ticker;
    if (handler.tick) {
        QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
            // Records that came while the program was stopped count before the data's age.
            link.Socket().ReadPending();
            handler.tick();
        });
        ticker.start(kTickMs);
    }
    app.exec();
    link.Disconnect();
    return 0;
}

bool RunPipe(QCoreApplication& app, int fd, const StreamHandler& handler, std::ostream& err) {
    common::QuitOnSignals quitOnSignals(app);
    if (!quitOnSignals.Ok()) err << "pelmora: cannot set up signal handling\n";
    QSocketNotifier input(fd, QSocketNotifier::Read);
    std::array<char, 4096> buf{};
    bool ended = false;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            if (n < 0) err << "pelmora: error reading standard input\n";
            input.setEnabled(false);
            ended = true;
            app.quit();
            return;
        }
        handler.bytes(std::string_view(buf.data(), static_cast<std::size_t>(n)));
    });
    app.exec();
    return !ended;
}

int RunLive(QCoreApplication& app, const std::string& serverText, StreamReader& reader,
            std::ostream& out, std::ostream& err, const RecordHook& onRecord, int retryMs) {
    RecordPrinter printer(out, err, onRecord);
    const int rc = RunLive(app, serverText, Printing(reader, printer, err), err, retryMs);
    if (rc == 0) err << "pelmora: stopped after " << printer.Count() << " records\n";
    return rc;
}

std::size_t RunPipeReplay(QCoreApplication& app, int fd, StreamReader& reader, std::ostream& out,
                          std::ostream& err, const RecordHook& onRecord) {
    RecordPrinter printer(out, err, onRecord);
    RunPipe(app, fd, Printing(reader, printer, err), err);
    ReportUnfinished(reader, err);
    out.flush();
    return printer.Count();
}

}  // namespace monitor
