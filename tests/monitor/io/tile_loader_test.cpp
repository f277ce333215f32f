// Map tiles from a loopback tile server of the test and from MBTiles files it writes: each tile
// in view asked for once, two at a time, by name; the disk cache standing in when the server is
// gone; the file's tiles before the server's.
#include "monitor/io/tile_loader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkCacheMetaData>
#include <QNetworkDiskCache>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "mbtiles_file.h"
#include "qt_wait.h"
#include "temp_dir.h"
#include "tile_server.h"

namespace monitor {
namespace {

using test_support::ServerTileColour;
using test_support::WaitFor;

std::vector<TileId> InView() {
    std::vector<TileId> ids;
    for (const PlacedTile& t : MapView({49.0, 8.0}, 10, 700, 500).VisibleTiles())
        ids.push_back(t.id);
    return ids;
}

// Asks for `ids` as the window does, again after every arrival, until all are in memory.
bool LoadAll(TileLoader& loader, const std::vector<TileId>& ids) {
    auto all = [&] {
        return std::all_of(ids.begin(), ids.end(), [&](const TileId& t) { return loader.Find(t); });
    };
    QObject::connect(&loader, &TileLoader::tileLoaded, [&] { loader.Want(ids); });
    loader.Want(ids);
    const bool ok = WaitFor(all);
    QObject::disconnect(&loader, &TileLoader::tileLoaded, nullptr, nullptr);
    return ok;
}

class TileLoaderTest : public ::testing::Test {
  protected:
    TileSources Sources() const {
        TileSources s;
        s.urlTemplate = server.UrlTemplate();
        s.cacheDir = QString::fromStdString((dir.path / "cache").string());
        s.userAgent = TileUserAgent();
        return s;
    }
    test_support::TempDir dir;
    test_support::TileServer server;
};

TEST_F(TileLoaderTest, FetchesEachTileInViewOnceTwoAtATimeNamingItself) {
    const std::vector<TileId> ids = InView();
    ASSERT_GE(ids.size(), 9u);
    TileLoader loader(Sources());
    ASSERT_TRUE(loader.HasSource());
    loader.Want(ids);
    EXPECT_EQ(loader.Find(ids[0]), nullptr);  // nothing waited for the network
    ASSERT_TRUE(LoadAll(loader, ids));

    EXPECT_EQ(server.Requests(), static_cast<int>(ids.size()));
    for (const TileId& t : ids) {
        EXPECT_EQ(server.paths.value(QStringLiteral("/%1/%2/%3.png").arg(t.z).arg(t.x).arg(t.y)),
                  1);
        const TileLoader::Tile* tile = loader.Find(t);
        EXPECT_EQ(tile->image.pixel(100, 100), ServerTileColour(t.z, t.x, t.y));
        EXPECT_EQ(tile->origin, TileLoader::Origin::Server);
    }
    EXPECT_LE(server.maxOpen, kTileConnections);
    EXPECT_LE(server.connections, kTileConnections);
    ASSERT_FALSE(server.userAgents.isEmpty());
    for (const QByteArray& ua : server.userAgents)
        EXPECT_TRUE(ua.startsWith("pelmora/")) << ua.data();
    EXPECT_EQ(loader.ServerAttribution(), QStringLiteral("127.0.0.1"));

    // Moving on drops the queue: tiles no longer in view are never asked for.
    const std::vector<TileId> elsewhere = {
        {12, 100, 100}, {12, 101, 100}, {12, 102, 100}, {12, 103, 100}, {12, 104, 100}};
    const int before = server.Requests();
    loader.Want(elsewhere);
    loader.Want({elsewhere[0]});
    ASSERT_TRUE(WaitFor([&] { return loader.Find(elsewhere[0]) != nullptr; }));
    test_support::Pump(100);
    EXPECT_LE(server.Requests() - before, kTileConnections);
}

TEST_F(TileLoaderTest, KeepsTilesAWeekAndShowsTheCachedCopyWhenTheServerIsGone) {
    const std::vector<TileId> ids = InView();
    {
        TileLoader first(Sources());
        ASSERT_TRUE(LoadAll(first, ids));
    }
    const int asked = server.Requests();
    {
        // The server said a minute; the cache keeps them a week without asking again.
        TileLoader second(Sources());
        ASSERT_TRUE(LoadAll(second, ids));
        EXPECT_EQ(server.Requests(), asked);
    }
    {
        QNetworkDiskCache cache;
        cache.setCacheDirectory(Sources().cacheDir);
        for (const TileId& t : ids) {
            QString url = server.UrlTemplate();
            url.replace("{z}", QString::number(t.z))
                .replace("{x}", QString::number(t.x))
                .replace("{y}", QString::number(t.y));
            QNetworkCacheMetaData meta = cache.metaData(QUrl(url));
            ASSERT_TRUE(meta.isValid()) << url.toStdString();
            EXPECT_GT(meta.expirationDate(), QDateTime::currentDateTimeUtc().addDays(6));
            // Long expired now: the server would be asked first.
            meta.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(-100));
            cache.updateMetaData(meta);
        }
    }
    server.Close();
    TileLoader third(Sources());
    ASSERT_TRUE(LoadAll(third, ids));
    for (const TileId& t : ids)
        EXPECT_EQ(third.Find(t)->image.pixel(5, 5), ServerTileColour(t.z, t.x, t.y));

    // Never fetched, server gone: no tile, and the loader settles instead of asking on.
    TileLoader none(Sources());
    int loaded = 0;
    QObject::connect(&none, &TileLoader::tileLoaded, [&] { ++loaded; });
    none.Want({{3, 1, 1}});
    test_support::Pump(300);
    EXPECT_EQ(none.Find({3, 1, 1}), nullptr);
    EXPECT_EQ(loaded, 0);
}

TEST_F(TileLoaderTest, AnMbtilesFilesTilesComeFirstRowsFlippedAndItsAttributionShown) {
    std::vector<TileId> ids = InView();
    const TileId missing = ids.back();
    ids.pop_back();
    const QString path = QString::fromStdString((dir.path / "region.mbtiles").string());
    ASSERT_TRUE(test_support::WriteMbtiles(path, ids, qRgb(0, 160, 0),
                                           "<a href=\"https://example.org/\">© Test Maps</a>"));
    TileSources s = Sources();
    s.mbtilesPath = path;
    TileLoader loader(s);
    ids.push_back(missing);
    ASSERT_TRUE(LoadAll(loader, ids));
    EXPECT_EQ(loader.FileProblem(), QString());
    EXPECT_EQ(loader.FileAttribution(), QStringLiteral("© Test Maps"));
    for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
        EXPECT_EQ(loader.Find(ids[i])->image.pixel(5, 5), qRgb(0, 160, 0));
        EXPECT_EQ(loader.Find(ids[i])->origin, TileLoader::Origin::File);
    }
    // Only the tile the file lacks was asked of the server.
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_EQ(loader.Find(missing)->origin, TileLoader::Origin::Server);

    // A high-resolution tile is brought to the size tiles are drawn at; a picture far too large
    // for a tile is none.
    for (const int side : {512, 2100}) {
        TileSources file;
        file.mbtilesPath = path + QString::number(side);
        ASSERT_TRUE(
            test_support::WriteMbtiles(file.mbtilesPath, {ids[0]}, qRgb(0, 0, 160), "", side));
        TileLoader other(file);
        other.Want({ids[0]});
        ASSERT_TRUE(WaitFor([&] { return other.Holds(ids[0]) || other.Lacks(ids[0]); }));
        const TileLoader::Tile* tile = other.Find(ids[0]);
        if (side > 2048) {
            EXPECT_EQ(tile, nullptr);
            continue;
        }
        ASSERT_NE(tile, nullptr);
        EXPECT_EQ(tile->image.size(), QSize(kTileSizePx, kTileSizePx));
        EXPECT_EQ(tile->image.pixel(255, 255), qRgb(0, 0, 160));
    }

    // No server, a file that is not there: no source, and the reason.
    TileSources broken;
    broken.mbtilesPath = path + ".gone";
    TileLoader nothing(broken);
    EXPECT_FALSE(nothing.HasSource());
    EXPECT_FALSE(nothing.FileProblem().isEmpty());
}

TEST_F(TileLoaderTest, AFileReadHeldUpNeverHoldsUpTheEventLoopAndLoadersCloseMidRead) {
    const std::vector<TileId> ids = InView();
    const QString path = QString::fromStdString((dir.path / "region.mbtiles").string());
    ASSERT_TRUE(test_support::WriteMbtiles(path, ids, qRgb(0, 160, 0), "Test Maps"));
    TileSources s;
    s.mbtilesPath = path;
    s.userAgent = TileUserAgent();
    {
        // A program writing the file holds it locked: the loader's reads wait for the lock.
        const QString name = QStringLiteral("locker");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery lock(db);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        TileLoader loader(s);
        loader.Want({ids[0]});
        bool turned = false;
        QTimer::singleShot(0, [&] { turned = true; });
        ASSERT_TRUE(WaitFor([&] { return turned; }, 2000));
        EXPECT_EQ(loader.Find(ids[0]), nullptr);
        EXPECT_FALSE(loader.Lacks(ids[0]));  // still coming
        ASSERT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
        ASSERT_TRUE(WaitFor([&] { return loader.Find(ids[0]) != nullptr; }));
        EXPECT_EQ(loader.Find(ids[0])->image.pixel(5, 5), qRgb(0, 160, 0));
        EXPECT_EQ(loader.FileAttribution(), QStringLiteral("Test Maps"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));

    // Loaders closed with file reads and server tiles' decoding in hand (run under the
    // sanitizers, this is where a thread handing back to a loader gone would show).
    s.urlTemplate = server.UrlTemplate();
    for (int i = 0; i < 10; ++i) {
        TileSources each = s;
        if (i % 2) each.mbtilesPath.clear();
        auto loader = std::make_unique<TileLoader>(each);
        loader->Want(ids);
        ASSERT_TRUE(WaitFor([&] { return loader->AnyLoaded(); }));
    }
}

QString PathOf(const TileId& t) {
    return QStringLiteral("/%1/%2/%3.png").arg(t.z).arg(t.x).arg(t.y);
}

// Asks for `ids` as the window does: again after every arrival and every tile found lacking.
void KeepWanting(TileLoader& loader, const std::vector<TileId>& ids) {
    QObject::connect(&loader, &TileLoader::tileLoaded, &loader,
                     [&loader, ids] { loader.Want(ids); });
    QObject::connect(&loader, &TileLoader::tileLacking, &loader,
                     [&loader, ids] { loader.Want(ids); });
    loader.Want(ids);
}

// The two most wanted tiles come a byte a second: each request ends at its deadline, frees its
// slot for the others, and is made again later; two failures are no reason to leave the server.
TEST_F(TileLoaderTest, TilesTrickledAByteASecondHoldUpNoneOfTheOthers) {
    const std::vector<TileId> ids = InView();
    const QSet<QString> slow = {PathOf(ids[0]), PathOf(ids[1])};
    server.slow = [&](const QString& path) { return slow.contains(path); };
    TileSources s = Sources();
    s.requestDeadlineMs = 300;
    s.retryMs = 1000;
    TileLoader loader(s);
    int trouble = 0;
    QObject::connect(&loader, &TileLoader::serverTrouble, [&] { ++trouble; });
    KeepWanting(loader, ids);
    // Each slow one holds a slot for 0.3 s: far more than enough here.
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::all_of(ids.begin() + 2, ids.end(),
                               [&](const TileId& t) { return loader.Find(t) != nullptr; });
        },
        30000));
    EXPECT_TRUE(loader.Lacks(ids[0]));
    EXPECT_TRUE(loader.Lacks(ids[1]));
    ASSERT_TRUE(WaitFor(
        [&] {
            loader.Want(ids);
            return server.paths.value(PathOf(ids[0])) >= 2;
        },
        30000));
    EXPECT_EQ(trouble, 0);
}

// A server that answers nothing in time: after several failures in a row the loader leaves it
// alone for the back-off, says so once, asks again after it and takes its tiles once it answers.
TEST_F(TileLoaderTest, AServerThatKeepsFailingIsLeftAloneForAWhileSaidOnce) {
    const std::vector<TileId> ids = InView();
    bool slow = true;
    server.slow = [&](const QString&) { return slow; };
    TileSources s = Sources();
    s.requestDeadlineMs = 200;
    s.retryMs = 100;
    s.backoffMs = 1500;
    TileLoader loader(s);
    QStringList said;
    qint64 saidAtMs = 0;
    QObject::connect(&loader, &TileLoader::serverTrouble, [&](const QString& text) {
        said << text;
        saidAtMs = QDateTime::currentMSecsSinceEpoch();
    });
    KeepWanting(loader, ids);
    ASSERT_TRUE(WaitFor([&] { return !said.isEmpty(); }, 30000));
    EXPECT_TRUE(said[0].contains("slow or unreachable")) << said[0].toStdString();
    EXPECT_LE(server.Requests(), kTileFailuresBeforeBackoff + 1);
    // Asked again after the back-off, failing on.
    ASSERT_TRUE(WaitFor(
        [&] {
            loader.Want(ids);
            return !server.askedAtMs.isEmpty() &&
                   server.askedAtMs.back() > saidAtMs + s.backoffMs + 400;
        },
        30000));
    for (qint64 at : server.askedAtMs)  // one already on its way may come just after
        EXPECT_FALSE(at > saidAtMs + 100 && at < saidAtMs + s.backoffMs - 100) << at - saidAtMs;
    EXPECT_EQ(said.size(), 1);
    slow = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            loader.Want(ids);
            return std::all_of(ids.begin(), ids.end(),
                               [&](const TileId& t) { return loader.Find(t) != nullptr; });
        },
        30000));
}

qint64 FolderBytes(const std::filesystem::path& folder) {
    qint64 bytes = 0;
    std::error_code ec;
    for (const auto& f : std::filesystem::recursive_directory_iterator(folder, ec))
        if (f.is_regular_file(ec)) bytes += static_cast<qint64>(f.file_size(ec));
    return bytes;
}

// Tiles just under the largest a tile may be, and one over it, with a small cache: the large one
// is refused and never cached, and the cache folder (tiles being fetched included) never holds
// more than its limit and one tile.
TEST_F(TileLoaderTest, LargeTilesAreRefusedAndTheCacheKeepsToItsLimit) {
    const std::vector<TileId> ids = InView();
    ASSERT_GE(ids.size(), 9u);
    const QString tooLarge = PathOf(ids[3]);
    server.size = [&](const QString& path) {
        return path == tooLarge ? kTileMaxBytes + 500000 : kTileMaxBytes - 100000;
    };
    TileSources s = Sources();
    constexpr qint64 kLimit = 8LL * 1024 * 1024;
    s.cacheBytes = kLimit;
    const std::filesystem::path cache = dir.path / "cache";
    TileLoader loader(s);
    qint64 most = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { most = std::max(most, FolderBytes(cache)); });
    watch.start(5);
    QObject::connect(&loader, &TileLoader::tileLoaded,
                     [&] { most = std::max(most, FolderBytes(cache)); });
    KeepWanting(loader, ids);
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const TileId& t : ids)
                if (!loader.Find(t) && !(PathOf(t) == tooLarge && loader.Lacks(t))) return false;
            return true;
        },
        60000));
    EXPECT_EQ(loader.Find(ids[3]), nullptr);
    EXPECT_GT(most, kLimit / 2);
    EXPECT_LE(most, kLimit + kTileMaxBytes);
    QNetworkDiskCache look;
    look.setCacheDirectory(s.cacheDir);
    QString url = server.UrlTemplate();
    url.replace("/{z}/{x}/{y}.png", tooLarge);
    EXPECT_FALSE(look.metaData(QUrl(url)).isValid());
}

}  // namespace
}  // namespace monitor

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
