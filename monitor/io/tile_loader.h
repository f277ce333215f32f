// Map tiles for the ground-track plot from an MBTiles file and a tile server, loaded without the
// window ever waiting: it asks for the tiles in view and repaints when some arrive. The file is
// opened and read, and every tile decoded, on a thread of the loader's own, so neither a slow
// card nor a large image stalls the event loop. The server is used as public tile servers ask:
// a User-Agent naming the program, at most two requests at a time, only the tiles in view, every
// tile kept in a disk cache that is trusted for at least a week and used whatever its age when
// the network fails. A request has a deadline of its own, a server that keeps failing is left
// alone for a while, and the cache keeps to its size.
#pragma once

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

#include "monitor/chase/map_view.h"

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;

namespace monitor {

class TileWorker;

inline constexpr const char* kOsmAttribution = "© OpenStreetMap contributors";
inline constexpr int kTileConnections = 2;
inline constexpr int kMemoryTiles = 300;
inline constexpr qint64 kTileCacheBytes = 256LL * 1024 * 1024;
inline constexpr int kTileFreshDays = 7;
// A tile that could not be had is not asked for again before this.
inline constexpr int kTileRetryMs = 30000;
// A request to the server ends by then, answered or not: a server trickling its answer a byte
// at a time would otherwise hold a request slot for good.
inline constexpr int kTileRequestDeadlineMs = 15000;
// This many requests in a row that got no answer in time (or none at all) make the loader leave
// the server alone for kTileBackoffMs, the cache standing in meanwhile.
inline constexpr int kTileFailuresBeforeBackoff = 4;
inline constexpr int kTileBackoffMs = 60000;
// A tile larger than this is refused, never cached.
inline constexpr qint64 kTileMaxBytes = 2LL * 1024 * 1024;

struct TileSources {
    QString urlTemplate;  // with {z}, {x}, {y}; empty: no server
    QString mbtilesPath;  // empty: no file
    QString cacheDir;     // empty: no disk cache
    // The disk cache, tiles being fetched included, never holds more than this and one tile.
    qint64 cacheBytes = kTileCacheBytes;
    QByteArray userAgent;
    int requestDeadlineMs = kTileRequestDeadlineMs;
    int retryMs = kTileRetryMs;
    int backoffMs = kTileBackoffMs;
};

// "pelmora/<version>".
QByteArray TileUserAgent();
// The tile cache in the user's cache folder.
QString DefaultTileCacheDir();

class TileLoader : public QObject {
    Q_OBJECT
  public:
    enum class Origin { File, Server };
    struct Tile {
        QImage image;
        Origin origin = Origin::Server;
    };

    explicit TileLoader(const TileSources& sources, QObject* parent = nullptr);
    ~TileLoader() override;

    // A server, or a file that is there and not yet found unusable.
    bool HasSource() const;
    // The decoded tile when it is in memory, marked as just used; null otherwise.
    const Tile* Find(const TileId& id);
    // Whether the tile is in memory, leaving the order of use alone.
    bool Holds(const TileId& id) const { return memory_.contains(id.Key()); }
    // Whether any tile has come since the loader was made.
    bool AnyLoaded() const { return anyLoaded_; }
    // Asked for and not to be had for now: the file lacks it and there is no server, or neither
    // the server nor its cache gave it.
    bool Lacks(const TileId& id) const;
    // The tiles in view, most wanted first. Those not in memory load: from the file, else from
    // the server. Queued requests for tiles no longer in view are dropped, so nothing is fetched
    // that the window does not show.
    void Want(const std::vector<TileId>& tiles);

    QString FileAttribution() const { return fileAttribution_; }
    QString ServerAttribution() const;
    // Why the MBTiles file is not used; empty when it is or none was given. The file is opened
    // on the loader's thread: what is wrong inside it is known at fileChecked().
    QString FileProblem() const { return fileProblem_; }

  signals:
    void tileLoaded();
    // A tile asked for turned out not to be had (see Lacks()).
    void tileLacking();
    // The server failed kTileFailuresBeforeBackoff requests in a row and is left alone for a
    // while; said once until it answers again.
    void serverTrouble(const QString& text);
    // The MBTiles file has been opened, or found unusable.
    void fileChecked();

  private:
    friend class TileWorker;
    enum class FileState { None, Opening, Open, Broken };
    struct Work;

    void Done(const Work& work);
    void Pump();
    void Fetch(const TileId& id, bool cacheOnly);
    void Fetched(QNetworkReply* reply, const TileId& id, bool cacheOnly);
    void Failed(const TileId& id);
    // A request to the server got no answer: counted towards backing off from it.
    void ServerFailed();
    bool BackingOff() const;
    void Store(const TileId& id, QImage image, Origin origin);

    TileSources sources_;
    FileState file_ = FileState::None;
    QString fileAttribution_;
    QString fileProblem_;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkDiskCache* diskCache_ = nullptr;
    int failuresInARow_ = 0;
    qint64 backoffUntil_ = 0;  // ms since the epoch
    bool troubleSaid_ = false;

    QCache<quint64, Tile> memory_{kMemoryTiles};
    std::vector<TileId> queue_;
    QSet<quint64> wanted_;    // the last Want()
    QSet<quint64> inFlight_;  // requests to the server
    QSet<quint64> atWorker_;  // file reads and decodes handed to the thread
    int fileReads_ = 0;       // of those, file reads
    QSet<quint64> notInFile_;
    QHash<quint64, qint64> failedAt_;  // ms since the epoch
    bool pumpQueued_ = false;
    bool anyLoaded_ = false;
    std::unique_ptr<TileWorker> worker_;
};

}  // namespace monitor
