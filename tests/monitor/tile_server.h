// A tile server of the test's own on the loopback interface: answers every GET with a PNG whose
// colour names the tile, after a short delay so that requests overlap, and counts what it saw.
// Some tiles may be answered a byte a second, or padded to a size of the test's choosing.
#pragma once

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace test_support {

// The colour the server paints tile z/x/y.
inline QRgb ServerTileColour(int z, int x, int y) {
    return qRgb(200, (x * 7 + z) % 200, (y * 13) % 200);
}

class TileServer {
  public:
    QMap<QString, int> paths;  // "/z/x/y.png" -> times asked
    QList<qint64> askedAtMs;   // when each request came, ms since the epoch
    QList<QByteArray> userAgents;
    int open = 0, maxOpen = 0;  // requests received and not yet answered
    int connections = 0;
    QByteArray cacheControl = "max-age=60";
    std::function<bool(const QString& path)> slow;       // answered a byte a second
    std::function<qsizetype(const QString& path)> size;  // bytes of the PNG with padding after it

    TileServer() {
        tcp_.listen(QHostAddress::LocalHost, 0);
        port_ = tcp_.serverPort();
        QObject::connect(&tcp_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = tcp_.nextPendingConnection()) {
                ++connections;
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Read(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString UrlTemplate() const {
        return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port_);
    }
    int Requests() const {
        int n = 0;
        for (int c : paths) n += c;
        return n;
    }
    // Gone: the port refuses from now on and open connections drop.
    void Close() {
        tcp_.close();
        for (QTcpSocket* s : tcp_.findChildren<QTcpSocket*>()) s->abort();
    }

  private:
    void Read(QTcpSocket* s) {
        QByteArray& buffer = buffers_[s];
        buffer += s->readAll();
        int end;
        while ((end = buffer.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            const QList<QByteArray> lines = head.split('\n');
            const QString path = QString::fromLatin1(lines.value(0).split(' ').value(1));
            for (const QByteArray& l : lines)
                if (l.toLower().startsWith("user-agent:")) userAgents << l.mid(11).trimmed();
            ++paths[path];
            askedAtMs << QDateTime::currentMSecsSinceEpoch();
            maxOpen = std::max(maxOpen, ++open);
            QTimer::singleShot(20, s, [this, s, path] { Answer(s, path); });
        }
    }
    void Answer(QTcpSocket* s, const QString& path) {
        --open;
        if (s->state() != QAbstractSocket::ConnectedState) return;  // dropped by Close()
        const QStringList parts = path.section('.', 0, 0).split('/', Qt::SkipEmptyParts);
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(ServerTileColour(parts.value(0).toInt(), parts.value(1).toInt(),
                                    parts.value(2).toInt()));
        QByteArray png;
        QBuffer out(&png);
        out.open(QIODevice::WriteOnly);
        image.save(&out, "PNG");
        if (size) png.append(std::max<qsizetype>(size(path) - png.size(), 0), '\0');
        s->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nCache-Control: " + cacheControl +
                 "\r\nContent-Length: " + QByteArray::number(png.size()) + "\r\n\r\n");
        if (!slow || !slow(path)) {
            s->write(png);
            return;
        }
        // Never silent for long, so a timeout on silence alone never ends it.
        auto* trickle = new QTimer(s);
        QObject::connect(trickle, &QTimer::timeout, s,
                         [s, trickle, png, at = qsizetype(0)]() mutable {
                             if (at < png.size()) s->write(png.mid(at++, 1));
                             if (at == png.size()) trickle->stop();
                         });
        trickle->start(1000);
    }

    QTcpServer tcp_;
    quint16 port_ = 0;  // kept: a closed server has none, and its tiles' addresses stay
    QMap<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace test_support
