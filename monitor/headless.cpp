#include "monitor/headless.h"

#include <unistd.h>

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <ostream>

#include "common/net/quit_on_signal.h"
#include "monitor/io/live_link.h"

namespace monitor {

namespace {

// What the window shows in msglb and its status bar, as lines on standard error.
class HeadlessLiveView : public LiveLinkView {
  public:
    HeadlessLiveView(StreamReader& reader, RecordPrinter& printer, std::ostream& err)
        : reader_(reader), printer_(printer), err_(err) {}
    LiveLink* link = nullptr;

    void tcpclientConnecting() override {}
    void tcpclientConnect(const QString&) override {
        err_ << "pelmora: connected to " << Where() << '\n';
        if (const std::size_t dropped = reader_.StartStream())
            err_ << "pelmora: dropped " << dropped
                 << " bytes of an unfinished record of the last connection\n";
        err_.flush();
    }
    void tcpclientError(const QString& detail, bool) override {
        err_ << "pelmora: no connection to " << Where() << " (" << detail.toStdString()
             << "), next attempt in " << retryMs / 1000 << " s\n";
        err_.flush();
    }
    void tcpclientRead(const QByteArray& bytes) override {
        printer_.Print(reader_.Feed(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
    }
    int retryMs = kRetryIntervalMs;

  private:
    std::string Where() const {
        const std::string host = link->Host().toStdString();
        const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
        return shown + ":" + std::to_string(link->Port());
    }
    StreamReader& reader_;
    RecordPrinter& printer_;
    std::ostream& err_;
};

}  // namespace

int RunLive(QCoreApplication& app, const std::string& serverText, StreamReader& reader,
            std::ostream& out, std::ostream& err, const RecordHook& onRecord, int retryMs) {
    common::QuitOnSignals quitOnSignals(app);
    if (!quitOnSignals.Ok()) {
        err << "pelmora: cannot set up signal handling\n";
        return 1;
    }

    RecordPrinter printer(out, err, onRecord);
    HeadlessLiveView view(reader, printer, err);
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
    app.exec();
    link.Disconnect();
    err << "pelmora: stopped after " << printer.Count() << " records\n";
    return 0;
}

std::size_t RunPipeReplay(QCoreApplication& app, int fd, StreamReader& reader, std::ostream& out,
                          std::ostream& err, const RecordHook& onRecord) {
    RecordPrinter printer(out, err, onRecord);
    QSocketNotifier input(fd, QSocketNotifier::Read);
    std::array<char, 4096> buf{};
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            if (n < 0) err << "pelmora: error reading standard input\n";
            input.setEnabled(false);
            app.quit();
            return;
        }
        printer.Print(reader.Feed(std::string_view(buf.data(), static_cast<std::size_t>(n))));
    });
    app.exec();
    ReportUnfinished(reader, err);
    out.flush();
    return printer.Count();
}

}  // namespace monitor
