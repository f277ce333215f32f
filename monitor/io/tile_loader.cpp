#include "monitor/io/tile_loader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCacheMetaData>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QUrl>

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace monitor {

namespace {

// File reads per turn of the event loop, so a screenful from a slow card never stalls it.
constexpr int kFileTilesPerTurn = 4;
constexpr int kTransferTimeoutMs = 20000;

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

QByteArray TileUserAgent() {
    return QByteArrayLiteral("pelmora/" PELMORA_VERSION);
}

QString DefaultTileCacheDir() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/pelmora/tiles");
}

TileLoader::TileLoader(const TileSources& sources, QObject* parent)
    : QObject(parent), sources_(sources) {
    if (!sources_.mbtilesPath.isEmpty()) OpenFile();
    if (sources_.urlTemplate.isEmpty()) return;
    network_ = new QNetworkAccessManager(this);
    if (!sources_.cacheDir.isEmpty()) {
        diskCache_ = new QNetworkDiskCache(this);
        diskCache_->setCacheDirectory(sources_.cacheDir);
        diskCache_->setMaximumCacheSize(sources_.cacheBytes);
        network_->setCache(diskCache_);
    }
}

TileLoader::~TileLoader() {
    fileQuery_.reset();
    if (!connection_.isEmpty()) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

void TileLoader::OpenFile() {
    const QString& path = sources_.mbtilesPath;
    if (!QFileInfo(path).isFile()) {
        fileProblem_ = QStringLiteral("MBTiles-Datei \"%1\" nicht gefunden").arg(path);
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        fileProblem_ = QStringLiteral("MBTiles: Qt-SQLite-Treiber fehlt (libqt6sql6-sqlite)");
        return;
    }
    connection_ = QStringLiteral("mbtiles-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        fileProblem_ = QStringLiteral("MBTiles-Datei \"%1\": %2").arg(path, db.lastError().text());
        return;
    }
    fileQuery_ = std::make_unique<QSqlQuery>(db);
    if (!fileQuery_->prepare(QStringLiteral("SELECT tile_data FROM tiles WHERE zoom_level = ? "
                                            "AND tile_column = ? AND tile_row = ?"))) {
        fileProblem_ = QStringLiteral("MBTiles-Datei \"%1\" hat keine Kacheln: %2")
                           .arg(path, fileQuery_->lastError().text());
        fileQuery_.reset();
        return;
    }
    QSqlQuery meta(db);
    if (meta.exec(QStringLiteral("SELECT value FROM metadata WHERE name = 'attribution'")) &&
        meta.next()) {
        // Often HTML with links; the map shows its text.
        fileAttribution_ =
            QTextDocumentFragment::fromHtml(meta.value(0).toString()).toPlainText().simplified();
    }
    fileOpen_ = true;
}

QString TileLoader::ServerAttribution() const {
    if (sources_.urlTemplate.isEmpty()) return {};
    const QString host = QUrl(sources_.urlTemplate).host();
    if (host == QLatin1String("openstreetmap.org") ||
        host.endsWith(QLatin1String(".openstreetmap.org")))
        return QString::fromUtf8(kOsmAttribution);
    return host;
}

const TileLoader::Tile* TileLoader::Find(const TileId& id) {
    return memory_.object(id.Key());
}

void TileLoader::Want(const std::vector<TileId>& tiles) {
    queue_.clear();
    const qint64 now = NowMs();
    for (const TileId& id : tiles) {
        const quint64 key = id.Key();
        if (memory_.contains(key) || inFlight_.contains(key)) continue;
        if (const auto f = failedAt_.constFind(key);
            f != failedAt_.constEnd() && now - *f < kTileRetryMs)
            continue;
        queue_.push_back(id);
    }
    if (!queue_.empty() && !pumpQueued_) {
        pumpQueued_ = true;
        QTimer::singleShot(0, this, &TileLoader::Pump);
    }
}

void TileLoader::Pump() {
    pumpQueued_ = false;
    bool loaded = false;
    int fileReads = 0;
    std::vector<TileId> waiting;
    for (std::size_t i = 0; i < queue_.size(); ++i) {
        const TileId id = queue_[i];
        const quint64 key = id.Key();
        if (memory_.contains(key) || inFlight_.contains(key)) continue;
        if (fileOpen_ && !notInFile_.contains(key)) {
            if (fileReads == kFileTilesPerTurn) {
                waiting.push_back(id);
                continue;
            }
            ++fileReads;
            if (LoadFromFile(id)) {
                loaded = true;
                continue;
            }
            notInFile_.insert(key);
        }
        if (!network_) continue;
        if (inFlight_.size() < kTileConnections)
            Fetch(id, false);
        else
            waiting.push_back(id);
    }
    queue_ = std::move(waiting);
    // More file tiles are read on the next turn; server tiles when a request finishes.
    if (fileReads == kFileTilesPerTurn && !queue_.empty() && !pumpQueued_) {
        pumpQueued_ = true;
        QTimer::singleShot(0, this, &TileLoader::Pump);
    }
    if (loaded) emit tileLoaded();
}

bool TileLoader::LoadFromFile(const TileId& id) {
    fileQuery_->bindValue(0, id.z);
    fileQuery_->bindValue(1, id.x);
    fileQuery_->bindValue(2, FlipRow(id.z, id.y));
    if (!fileQuery_->exec() || !fileQuery_->next()) return false;
    QImage image = QImage::fromData(fileQuery_->value(0).toByteArray());
    fileQuery_->finish();
    if (image.isNull()) return false;
    Store(id, std::move(image), Origin::File);
    return true;
}

void TileLoader::Fetch(const TileId& id, bool cacheOnly) {
    QString url = sources_.urlTemplate;
    url.replace(QLatin1String("{z}"), QString::number(id.z))
        .replace(QLatin1String("{x}"), QString::number(id.x))
        .replace(QLatin1String("{y}"), QString::number(id.y));
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::UserAgentHeader, sources_.userAgent);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         cacheOnly ? QNetworkRequest::AlwaysCache : QNetworkRequest::PreferNetwork);
    request.setTransferTimeout(kTransferTimeoutMs);
    inFlight_.insert(id.Key());
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, id, cacheOnly] { Fetched(reply, id, cacheOnly); });
}

void TileLoader::Fetched(QNetworkReply* reply, const TileId& id, bool cacheOnly) {
    reply->deleteLater();
    inFlight_.remove(id.Key());
    if (reply->error() != QNetworkReply::NoError) {
        // The server is away or refuses: the cached copy, however old, beats a blank map.
        if (!cacheOnly && diskCache_)
            Fetch(id, true);
        else
            Failed(id);
        Pump();
        return;
    }
    QImage image = QImage::fromData(reply->readAll());
    if (!cacheOnly && diskCache_ &&
        !reply->attribute(QNetworkRequest::SourceIsFromCacheAttribute).toBool()) {
        // Trust a fresh tile for a week at least, sparing the server; no-cache and
        // must-revalidate in its headers still make every use ask it.
        QNetworkCacheMetaData meta = diskCache_->metaData(reply->url());
        const QDateTime week = QDateTime::currentDateTimeUtc().addDays(kTileFreshDays);
        if (meta.isValid() && meta.saveToDisk() &&
            (!meta.expirationDate().isValid() || meta.expirationDate() < week)) {
            meta.setExpirationDate(week);
            diskCache_->updateMetaData(meta);
        }
    }
    if (image.isNull()) {
        Failed(id);
    } else {
        Store(id, std::move(image), Origin::Server);
        emit tileLoaded();
    }
    Pump();
}

void TileLoader::Failed(const TileId& id) {
    failedAt_.insert(id.Key(), NowMs());
}

void TileLoader::Store(const TileId& id, QImage image, Origin origin) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied && image.hasAlphaChannel())
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    memory_.insert(id.Key(), new Tile{std::move(image), origin});
    failedAt_.remove(id.Key());
}

}  // namespace monitor
