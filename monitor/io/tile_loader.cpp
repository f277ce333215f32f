#include "monitor/io/tile_loader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
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
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace monitor {

namespace {

// File reads handed to the thread at a time: few, so that tiles that leave the view while
// queued are dropped here rather than read.
constexpr int kFileReadsAhead = 2;
constexpr int kTransferTimeoutMs = 20000;
// Why the loader itself ended a request, kept on the reply.
constexpr const char* kEndedBy = "pelmoraEndedBy";
constexpr int kMaxTileSidePx = 2048;

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// Tiles are drawn 256 pixels square: larger ones (a server's high-resolution tiles) are brought
// to that size, so a parent's quarter is where the plot looks for it and the memory kept stays
// bounded; a picture too large for a tile is not decoded at all.
QImage Decode(QByteArray data) {
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxTileSidePx || size.height() > kMaxTileSidePx)
        return {};
    if (size != QSize(kTileSizePx, kTileSizePx)) reader.setScaledSize({kTileSizePx, kTileSizePx});
    QImage image = reader.read();
    if (!image.isNull() && image.hasAlphaChannel() &&
        image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

// The disk cache under a real cap: a tile larger than kTileMaxBytes is never stored, and what is
// stored is kept so far below the user's limit that the tiles being fetched (written into the
// cache folder as they arrive) fit beside it with no more than one tile to spare.
class TileDiskCache : public QNetworkDiskCache {
  public:
    TileDiskCache(const QString& folder, qint64 limitBytes, QObject* parent)
        : QNetworkDiskCache(parent) {
        setCacheDirectory(folder);
        setMaximumCacheSize(
            std::max<qint64>(limitBytes - (kTileConnections - 1) * kTileMaxBytes, 0));
    }

    QIODevice* prepare(const QNetworkCacheMetaData& meta) override {
        for (const auto& [name, value] : meta.rawHeaders())
            if (name.compare("content-length", Qt::CaseInsensitive) == 0 &&
                value.trimmed().toLongLong() > kTileMaxBytes)
                return nullptr;
        QIODevice* device = QNetworkDiskCache::prepare(meta);
        if (device) preparing_.insert(device, meta.url());
        return device;
    }
    void insert(QIODevice* device) override {
        const QUrl url = preparing_.take(device);
        // Header and all: a tile of kTileMaxBytes has a few hundred bytes more.
        if (device->size() > kTileMaxBytes + kHeaderSlackBytes) {
            QNetworkDiskCache::remove(url);
            return;
        }
        QNetworkDiskCache::insert(device);
        // The base class makes room only before it stores; the new tile may leave it over.
        if (cacheSize() > maximumCacheSize()) expire();
    }
    bool remove(const QUrl& url) override {
        for (auto it = preparing_.begin(); it != preparing_.end(); ++it) {
            if (it.value() == url) {
                preparing_.erase(it);
                break;
            }
        }
        return QNetworkDiskCache::remove(url);
    }

  private:
    static constexpr qint64 kHeaderSlackBytes = 64 * 1024;
    QHash<QIODevice*, QUrl> preparing_;
};

}  // namespace

// What the thread hands back to the loader.
struct TileLoader::Work {
    enum class Kind { Opened, Read, Decoded } kind;
    TileId id;
    QImage image;  // null: not in the file, or not an image
    bool ok = false;
    QString text;  // Opened: the attribution when ok, else why the file is not used
};

// The loader's thread: opens the MBTiles file, reads its rows and decodes images, one job at a
// time in the order given. Qt SQL connections belong to the thread that opened them, so the
// file's whole life is in run().
class TileWorker : public QThread {
  public:
    using Deliver = std::function<void(const TileLoader::Work&)>;

    // `deliver` runs on `receiver`'s thread; nothing is handed over once Stop() has returned.
    TileWorker(QString mbtilesPath, QObject* receiver, Deliver deliver)
        : path_(std::move(mbtilesPath)), receiver_(receiver), deliver_(std::move(deliver)) {}
    ~TileWorker() override { Stop(); }

    void Read(const TileId& id) { Add({id, true, {}}); }
    void Decode(const TileId& id, QByteArray data) { Add({id, false, std::move(data)}); }
    // Drops the jobs not begun and waits for the one in hand.
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        wait();
    }

  protected:
    void run() override {
        const QString connection =
            QStringLiteral("mbtiles-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
        if (!path_.isEmpty()) {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
                std::optional<QSqlQuery> query = Open(db);
                Serve(query ? &*query : nullptr);
            }  // the query and the handle go before the connection
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        } else {
            Serve(nullptr);
        }
    }

  private:
    struct Job {
        TileId id;
        bool fromFile = false;
        QByteArray data;
    };

    void Add(Job job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

    void Hand(TileLoader::Work work) {
        QMetaObject::invokeMethod(
            receiver_, [deliver = deliver_, work = std::move(work)] { deliver(work); },
            Qt::QueuedConnection);
    }

    std::optional<QSqlQuery> Open(QSqlDatabase& db) {
        TileLoader::Work opened{TileLoader::Work::Kind::Opened, {}, {}, false, {}};
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        std::optional<QSqlQuery> query;
        if (!db.open()) {
            opened.text =
                QCoreApplication::translate("monitor::TileLoader", "MBTiles-Datei \"%1\": %2")
                    .arg(path_, db.lastError().text());
        } else {
            query.emplace(db);
            if (!query->prepare(QStringLiteral("SELECT tile_data FROM tiles WHERE zoom_level = ? "
                                               "AND tile_column = ? AND tile_row = ?"))) {
                opened.text =
                    QCoreApplication::translate("monitor::TileLoader",
                                                "MBTiles-Datei \"%1\" hat keine Kacheln: %2")
                        .arg(path_, query->lastError().text());
                query.reset();
            } else {
                opened.ok = true;
                QSqlQuery meta(db);
                if (meta.exec(
                        QStringLiteral("SELECT value FROM metadata WHERE name = 'attribution'")) &&
                    meta.next())
                    opened.text = meta.value(0).toString();
            }
        }
        Hand(std::move(opened));
        return query;
    }

    void Serve(QSqlQuery* query) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (stop_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            TileLoader::Work done{
                job.fromFile ? TileLoader::Work::Kind::Read : TileLoader::Work::Kind::Decoded,
                job.id,
                {},
                false,
                {}};
            if (job.fromFile && query) {
                query->bindValue(0, job.id.z);
                query->bindValue(1, job.id.x);
                query->bindValue(2, FlipRow(job.id.z, job.id.y));
                if (query->exec() && query->next()) job.data = query->value(0).toByteArray();
                query->finish();
            }
            if (!job.data.isEmpty()) done.image = monitor::Decode(job.data);
            done.ok = !done.image.isNull();
            Hand(std::move(done));
        }
    }

    const QString path_;
    QObject* const receiver_;
    const Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stop_ = false;
};

QByteArray TileUserAgent() {
    return QByteArrayLiteral("pelmora/" PELMORA_VERSION);
}

QString DefaultTileCacheDir() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/pelmora/tiles");
}

TileLoader::TileLoader(const TileSources& sources, QObject* parent)
    : QObject(parent), sources_(sources) {
    const QString& path = sources_.mbtilesPath;
    QString file;
    // What can be told without opening the file is told at once.
    if (path.isEmpty()) {
    } else if (!QFileInfo(path).isFile()) {
        fileProblem_ = QCoreApplication::translate("monitor::TileLoader",
                                                   "MBTiles-Datei \"%1\" nicht gefunden")
                           .arg(path);
    } else if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        fileProblem_ = QCoreApplication::translate(
            "monitor::TileLoader", "MBTiles: Qt-SQLite-Treiber fehlt (libqt6sql6-sqlite)");
    } else {
        file = path;
        file_ = FileState::Opening;
    }
    if (!sources_.urlTemplate.isEmpty()) {
        network_ = new QNetworkAccessManager(this);
        if (!sources_.cacheDir.isEmpty()) {
            diskCache_ = new TileDiskCache(sources_.cacheDir, sources_.cacheBytes, this);
            network_->setCache(diskCache_);
        }
    }
    if (!HasSource()) return;
    worker_ = std::make_unique<TileWorker>(file, this, [this](const Work& w) { Done(w); });
    worker_->start();
}

TileLoader::~TileLoader() {
    // Before anything else goes: the thread may be in the middle of a read.
    worker_.reset();
}

bool TileLoader::HasSource() const {
    return file_ == FileState::Opening || file_ == FileState::Open ||
           !sources_.urlTemplate.isEmpty();
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

bool TileLoader::Lacks(const TileId& id) const {
    const quint64 key = id.Key();
    if (memory_.contains(key)) return false;
    if (failedAt_.contains(key)) return true;
    return !network_ && (notInFile_.contains(key) || file_ == FileState::Broken);
}

void TileLoader::Want(const std::vector<TileId>& tiles) {
    queue_.clear();
    wanted_.clear();
    const qint64 now = NowMs();
    for (const TileId& id : tiles) {
        const quint64 key = id.Key();
        wanted_.insert(key);
        if (memory_.contains(key) || inFlight_.contains(key) || atWorker_.contains(key)) continue;
        if (const auto f = failedAt_.constFind(key);
            f != failedAt_.constEnd() && now - *f < sources_.retryMs)
            continue;
        queue_.push_back(id);
    }
    if (!queue_.empty() && !pumpQueued_) {
        pumpQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            pumpQueued_ = false;
            Pump();
        });
    }
}

void TileLoader::Pump() {
    if (!worker_) return;
    const bool file = file_ == FileState::Opening || file_ == FileState::Open;
    std::vector<TileId> waiting;
    for (const TileId& id : queue_) {
        const quint64 key = id.Key();
        if (memory_.contains(key) || inFlight_.contains(key) || atWorker_.contains(key)) continue;
        if (file && !notInFile_.contains(key)) {
            if (fileReads_ == kFileReadsAhead) {
                waiting.push_back(id);
                continue;
            }
            ++fileReads_;
            atWorker_.insert(key);
            worker_->Read(id);
            continue;
        }
        if (!network_) continue;
        // While the server is left alone the cache stands in; what it lacks is retried later.
        if (BackingOff() && !diskCache_) {
            Failed(id);
            continue;
        }
        if (inFlight_.size() < kTileConnections)
            Fetch(id, BackingOff());
        else
            waiting.push_back(id);
    }
    // The rest when a read or a request finishes.
    queue_ = std::move(waiting);
}

void TileLoader::Done(const Work& w) {
    const quint64 key = w.id.Key();
    switch (w.kind) {
        case Work::Kind::Opened:
            if (w.ok) {
                file_ = FileState::Open;
                // Often HTML with links; the map shows its text.
                fileAttribution_ =
                    QTextDocumentFragment::fromHtml(w.text).toPlainText().simplified();
            } else {
                file_ = FileState::Broken;
                fileProblem_ = w.text;
            }
            emit fileChecked();
            return;
        case Work::Kind::Read:
            --fileReads_;
            atWorker_.remove(key);
            if (w.ok) {
                Store(w.id, w.image, Origin::File);
                emit tileLoaded();
            } else {
                notInFile_.insert(key);
                // Still in view: the server's turn.
                if (network_ && wanted_.contains(key))
                    queue_.insert(queue_.begin(), w.id);
                else if (!network_)
                    emit tileLacking();
            }
            break;
        case Work::Kind::Decoded:
            atWorker_.remove(key);
            if (w.ok) {
                Store(w.id, w.image, Origin::Server);
                emit tileLoaded();
            } else {
                Failed(w.id);
            }
            break;
    }
    Pump();
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
    // Qt's transfer timeout measures silence only; this one the whole request.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kEndedBy, QStringLiteral("deadline"));
        reply->abort();
    });
    deadline->start(sources_.requestDeadlineMs);
    auto tooLarge = [reply](qint64 received, qint64 total) {
        if (received <= kTileMaxBytes && total <= kTileMaxBytes) return;
        reply->setProperty(kEndedBy, QStringLiteral("size"));
        reply->abort();  // before the cache keeps it
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, tooLarge] {
        tooLarge(0, reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, this, tooLarge);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, id, cacheOnly] { Fetched(reply, id, cacheOnly); });
}

void TileLoader::Fetched(QNetworkReply* reply, const TileId& id, bool cacheOnly) {
    reply->deleteLater();
    inFlight_.remove(id.Key());
    const QString endedBy = reply->property(kEndedBy).toString();
    const bool answered =
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && endedBy.isEmpty();
    if (!cacheOnly) {
        if (answered || endedBy == QLatin1String("size")) {
            failuresInARow_ = 0;
            troubleSaid_ = false;
        } else if (reply->error() != QNetworkReply::NoError) {
            ServerFailed();
        }
    }
    if (reply->error() != QNetworkReply::NoError) {
        // The server is away or refuses: the cached copy, however old, beats a blank map. A
        // tile too large for a map tile is not asked for again soon.
        if (!cacheOnly && diskCache_ && endedBy != QLatin1String("size"))
            Fetch(id, true);
        else
            Failed(id);
        Pump();
        return;
    }
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
    atWorker_.insert(id.Key());
    worker_->Decode(id, reply->readAll());
    Pump();
}

void TileLoader::Failed(const TileId& id) {
    failedAt_.insert(id.Key(), NowMs());
    emit tileLacking();
}

void TileLoader::ServerFailed() {
    if (++failuresInARow_ < kTileFailuresBeforeBackoff) return;
    backoffUntil_ = NowMs() + sources_.backoffMs;
    if (troubleSaid_) return;
    troubleSaid_ = true;
    emit serverTrouble(
        QStringLiteral("tile server %1 slow or unreachable: %2 requests in a row failed, asked "
                       "again in %3 s")
            .arg(QUrl(sources_.urlTemplate).host())
            .arg(failuresInARow_)
            .arg(sources_.backoffMs / 1000));
}

bool TileLoader::BackingOff() const {
    return NowMs() < backoffUntil_;
}

void TileLoader::Store(const TileId& id, QImage image, Origin origin) {
    memory_.insert(id.Key(), new Tile{std::move(image), origin});
    failedAt_.remove(id.Key());
    anyLoaded_ = true;
}

}  // namespace monitor
