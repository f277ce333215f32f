// MBTiles files written by the tests through Qt SQL: plain-colour tiles at the rows the format
// stores them in (counted from the south).
#pragma once

#include <QBuffer>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <vector>

#include "monitor/chase/map_view.h"

namespace test_support {

inline bool WriteMbtiles(const QString& path, const std::vector<monitor::TileId>& tiles,
                         QRgb colour, const QString& attribution, int sidePx = 256) {
    const QString name = QStringLiteral("write-") + path;
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        ok = ok && q.exec(QStringLiteral("CREATE TABLE metadata (name text, value text)")) &&
             q.exec(QStringLiteral("CREATE TABLE tiles (zoom_level integer, tile_column integer, "
                                   "tile_row integer, tile_data blob)")) &&
             q.exec(QStringLiteral("CREATE UNIQUE INDEX tile_index ON tiles "
                                   "(zoom_level, tile_column, tile_row)"));
        ok = ok && q.prepare(QStringLiteral("INSERT INTO metadata VALUES ('attribution', ?)"));
        q.addBindValue(attribution);
        ok = ok && q.exec();
        QImage image(sidePx, sidePx, QImage::Format_RGB32);
        image.fill(colour);
        QByteArray png;
        QBuffer out(&png);
        out.open(QIODevice::WriteOnly);
        image.save(&out, "PNG");
        ok = ok && q.prepare(QStringLiteral("INSERT INTO tiles VALUES (?, ?, ?, ?)"));
        for (const monitor::TileId& t : tiles) {
            q.addBindValue(t.z);
            q.addBindValue(t.x);
            q.addBindValue(monitor::FlipRow(t.z, t.y));
            q.addBindValue(png);
            ok = ok && q.exec();
        }
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

}  // namespace test_support
