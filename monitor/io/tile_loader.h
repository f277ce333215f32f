// Map tiles for the ground-track plot from an MBTiles file and a tile server, loaded on the event
// loop without waiting: the window asks for the tiles in view and repaints when some arrive. The
// server is used as public tile servers ask: a User-Agent naming the program, at most two
// requests at a time, only the tiles in view, every tile kept in a disk cache that is trusted
// for at least a week and used whatever its age when the network fails.
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

#include "monitor/core/map_view.h"

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;
class QSqlQuery;

namespace monitor {

inline constexpr const char* kOsmAttribution = "© OpenStreetMap contributors";
inline constexpr int kTileConnections = 2;
inline constexpr int kMemoryTiles = 300;
inline constexpr qint64 kTileCacheBytes = 256LL * 1024 * 1024;
inline constexpr int kTileFreshDays = 7;
// A tile that could not be had is not asked for again before this.
inline constexpr int kTileRetryMs = 30000;

struct TileSources {
    QString urlTemplate;  // with {z}, {x}, {y}; empty: no server
    QString mbtilesPath;  // empty: no file
    QString cacheDir;     // empty: no disk cache
    qint64 cacheBytes = kTileCacheBytes;
    QByteArray userAgent;
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

    bool HasSource() const { return fileOpen_ || !sources_.urlTemplate.isEmpty(); }
    // The decoded tile when it is in memory, marked as just used; null otherwise.
    const Tile* Find(const TileId& id);
    // The tiles in view, most wanted first. Those not in memory load: from the file, else from
    // the server. Queued requests for tiles no longer in view are dropped, so nothing is fetched
    // that the window does not show.
    void Want(const std::vector<TileId>& tiles);

    QString FileAttribution() const { return fileAttribution_; }
    QString ServerAttribution() const;
    // Why the MBTiles file is not used; empty when it is or none was given.
    QString FileProblem() const { return fileProblem_; }

  signals:
    void tileLoaded();

  private:
    void OpenFile();
    void Pump();
    bool LoadFromFile(const TileId& id);
    void Fetch(const TileId& id, bool cacheOnly);
    void Fetched(QNetworkReply* reply, const TileId& id, bool cacheOnly);
    void Failed(const TileId& id);
    void Store(const TileId& id, QImage image, Origin origin);

    TileSources sources_;
    QString connection_;
    std::unique_ptr<QSqlQuery> fileQuery_;
    bool fileOpen_ = false;
    QString fileAttribution_;
    QString fileProblem_;
    QNetworkAccessManager* network_ = nullptr;
    QNetworkDiskCache* diskCache_ = nullptr;

    QCache<quint64, Tile> memory_{kMemoryTiles};
    std::vector<TileId> queue_;
    QSet<quint64> inFlight_;
    QSet<quint64> notInFile_;
    QHash<quint64, qint64> failedAt_;  // ms since the epoch
    bool pumpQueued_ = false;
};

}  // namespace monitor
