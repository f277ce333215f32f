// Web Mercator tiles against tiles looked up by hand, the MBTiles row flip, and a map view that
// pans, zooms about the pointer, covers its window with tiles and measures true kilometres.
#include "monitor/chase/map_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace monitor {
namespace {

constexpr double kKmPerDegLat = 6370.0 * std::numbers::pi / 180;

TEST(MapTiles, PlacesFallInTheTilesLookedUpByHand) {
    struct Case {
        const char* place;
        LatLonDeg p;
        TileId tile;
    };
    const Case cases[] = {
        {"Berlin", {52.52, 13.405}, {10, 550, 335}},
        {"New York (west)", {40.7128, -74.006}, {10, 301, 385}},
        {"Rio (south and west)", {-22.9068, -43.1729}, {12, 1556, 2315}},
        {"Sydney (south and east)", {-33.8688, 151.2093}, {8, 235, 153}},
        {"Reykjavik", {64.1466, -21.9426}, {14, 7193, 4354}},
        {"just south-west of 0/0", {-0.001, -0.001}, {1, 0, 1}},
        {"just north-east of 0/0", {0.001, 0.001}, {1, 1, 0}},
        {"south-west of 0/0, close", {-0.001, -0.001}, {18, 131071, 131072}},
        {"anywhere at zoom 0", {-60, 170}, {0, 0, 0}},
        {"beyond Mercator's edge", {89.9, -179.99}, {5, 0, 0}},
        {"beyond Mercator's other edge", {-89.9, 179.99}, {5, 31, 31}},
    };
    for (const Case& c : cases) {
        const TileId t = TileAt(c.p, c.tile.z);
        EXPECT_EQ(t, c.tile) << c.place << ": got " << t.x << "/" << t.y;
    }
    // Where in its tile Berlin lies, and back.
    const PlotPoint w = WorldPixel({52.52, 13.405}, 10);
    EXPECT_NEAR(w.x - 550 * 256, 33.22, 0.01);
    EXPECT_NEAR(w.y - 335 * 256, 211.48, 0.01);
    const LatLonDeg back = FromWorldPixel(w, 10);
    EXPECT_NEAR(back.lat, 52.52, 1e-9);
    EXPECT_NEAR(back.lon, 13.405, 1e-9);
}

TEST(MapTiles, RowsFlipBetweenXyzAndTmsAndParentsHalve) {
    EXPECT_EQ(FlipRow(0, 0), 0);
    EXPECT_EQ(FlipRow(3, 0), 7);
    EXPECT_EQ(FlipRow(3, 7), 0);
    EXPECT_EQ(FlipRow(10, 335), 688);
    EXPECT_EQ(FlipRow(10, FlipRow(10, 335)), 335);
    EXPECT_EQ(ParentTile({10, 550, 335}), (TileId{9, 275, 167}));
    EXPECT_EQ(ParentTile({1, 1, 0}), (TileId{0, 0, 0}));
    EXPECT_NE((TileId{3, 1, 2}).Key(), (TileId{3, 2, 1}).Key());
    EXPECT_NE((TileId{3, 1, 2}).Key(), (TileId{4, 1, 2}).Key());
}

TEST(MapView, ZoomsAboutThePointerPansWithTheMouseAndCoversTheWindow) {
    MapView v({49.0, 8.0}, 10, 400, 300);
    const PlotPoint middle = v.ToScreen(v.Centre());
    EXPECT_NEAR(middle.x, 200, 1e-6);
    EXPECT_NEAR(middle.y, 150, 1e-6);

    const PlotPoint pointer{310, 60};
    const LatLonDeg under = v.FromScreen(pointer);
    v.ZoomAbout(pointer, 1);
    EXPECT_EQ(v.Zoom(), 11);
    PlotPoint s = v.ToScreen(under);
    EXPECT_NEAR(s.x, pointer.x, 1e-6);
    EXPECT_NEAR(s.y, pointer.y, 1e-6);
    v.ZoomAbout(pointer, -3);
    EXPECT_EQ(v.Zoom(), 8);
    s = v.ToScreen(under);
    EXPECT_NEAR(s.x, pointer.x, 1e-6);
    EXPECT_NEAR(s.y, pointer.y, 1e-6);
    v.ZoomAbout(pointer, 40);
    EXPECT_EQ(v.Zoom(), kMaxMapZoom);

    v = MapView({49.0, 8.0}, 12, 400, 300);
    const PlotPoint before = v.ToScreen({49.01, 8.02});
    v.Pan(25, -40);
    s = v.ToScreen({49.01, 8.02});
    EXPECT_NEAR(s.x, before.x + 25, 1e-6);
    EXPECT_NEAR(s.y, before.y - 40, 1e-6);

    // Every pixel of the window lies in exactly one tile, and each tile shows.
    const auto tiles = v.VisibleTiles();
    for (double y = 0.5; y < 300; y += 37)
        for (double x = 0.5; x < 400; x += 41) {
            const auto holding =
                std::count_if(tiles.begin(), tiles.end(), [&](const PlacedTile& t) {
                    return x >= t.x && x < t.x + 256 && y >= t.y && y < t.y + 256;
                });
            EXPECT_EQ(holding, 1) << x << "," << y;
            const TileId under = TileAt(v.FromScreen({x, y}), 12);
            EXPECT_TRUE(std::any_of(tiles.begin(), tiles.end(), [&](const PlacedTile& t) {
                return t.id == under && x >= t.x && x < t.x + 256;
            }));
        }
    for (const PlacedTile& t : tiles) {
        EXPECT_GT(t.x + 256, 0);
        EXPECT_LT(t.x, 400);
        EXPECT_GT(t.y + 256, 0);
        EXPECT_LT(t.y, 300);
    }
}

TEST(MapView, WrapsRoundTheDateLineAndStopsAtThePoles) {
    const MapView v({0.0, -179.99}, 2, 400, 300);
    const auto tiles = v.VisibleTiles();
    auto has = [&](int x) {
        return std::any_of(tiles.begin(), tiles.end(),
                           [&](const PlacedTile& t) { return t.id.x == x; });
    };
    EXPECT_TRUE(has(3));
    EXPECT_TRUE(has(0));  // west of the date line, to the left
    for (const PlacedTile& t : tiles) EXPECT_TRUE(t.id.x >= 0 && t.id.x < 4);
    EXPECT_LT(v.ToScreen({0.0, 179.9}).x, 200);

    // Each pole's own row shows and nothing beyond it.
    for (const double lat : {85.0, -85.0}) {
        const MapView polar({lat, 0.0}, 1, 400, 400);
        const auto rows = polar.VisibleTiles();
        const int edge = lat > 0 ? 0 : 1;
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const PlacedTile& t) {
            return t.id.y == edge;
        })) << lat;
        for (const PlacedTile& t : rows) EXPECT_TRUE(t.id.y >= 0 && t.id.y < 2) << lat;
    }
}

TEST(MapView, RingsAndScaleBarInTrueKilometresAndAZoomThatHoldsThePoints) {
    const LatLonDeg home{60.0, 10.0};  // Mercator doubles distances here
    const MapView v(home, 11, 500, 400);
    const LatLonDeg north10km{home.lat + 10 / kKmPerDegLat, home.lon};
    const double px = v.ToScreen(home).y - v.ToScreen(north10km).y;
    EXPECT_NEAR(px / 10, v.PxPerKm(), v.PxPerKm() * 0.01);

    FlightPoint f;
    f.position = north10km;
    const GroundTrackView g = MakeMapTrackView(v, home, {f}, std::nullopt);
    EXPECT_NEAR(g.home.x, 250, 1e-6);
    ASSERT_FALSE(g.ringRadiiPx.empty());
    EXPECT_NEAR(g.ringRadiiPx[0] / g.ringStepKm, px / 10, px / 10 * 0.01);
    // The rings reach the window's corners.
    EXPECT_GE(g.ringRadiiPx.back(), std::hypot(250, 200));
    ASSERT_TRUE(g.last);
    EXPECT_NEAR(g.last->y, g.home.y - px, 1e-6);

    const ScaleBar bar = v.MakeScaleBar(100);
    EXPECT_LE(bar.lengthPx, 100);
    EXPECT_GT(bar.lengthPx, 40);
    const double km = bar.lengthPx / v.PxPerKm();
    EXPECT_EQ(bar.label, km < 1 ? PlainNumber(km * 1000) + " m" : PlainNumber(km) + " km");
    const double mantissa = km / std::pow(10.0, std::floor(std::log10(km) + 1e-9));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                std::abs(mantissa - 5) < 1e-6)
        << km;

    const std::vector<LatLonDeg> points = {{49.0, 8.0}, {49.3, 8.6}, {48.8, 7.7}};
    const int z = FitZoom({49.0, 8.0}, points, 300, 200, 10);
    auto inside = [&](int zoom) {
        const MapView m({49.0, 8.0}, zoom, 300, 200);
        return std::all_of(points.begin(), points.end(), [&](const LatLonDeg& p) {
            const PlotPoint s = m.ToScreen(p);
            return s.x >= 10 && s.x <= 290 && s.y >= 10 && s.y <= 190;
        });
    };
    EXPECT_TRUE(inside(z));
    EXPECT_FALSE(inside(z + 1));
}

// A flight to one side of home, in a tall window: the view holds home, track and landing with
// the margin, centred on what they span, and one level closer no longer would.
TEST(FitView, HoldsEveryPointCentredOnTheirSpanAtTheClosestZoom) {
    const std::vector<LatLonDeg> points = {
        {50.25, 9.92}, {50.10, 8.70}, {50.31, 9.40}, {50.27, 9.99}};
    const double w = 600, h = 900, margin = 24;
    const MapView v = FitView(points, w, h, margin, kMaxMapZoom);
    auto extent = [&](const MapView& m) {
        double left = w, right = w, top = h, bottom = h;
        for (const LatLonDeg& p : points) {
            const PlotPoint s = m.ToScreen(p);
            left = std::min(left, s.x), right = std::min(right, w - s.x);
            top = std::min(top, s.y), bottom = std::min(bottom, h - s.y);
        }
        return std::array<double, 4>{left, right, top, bottom};
    };
    const auto room = extent(v);
    for (double side : room) EXPECT_GE(side, margin);
    EXPECT_NEAR(room[0], room[1], 1e-6);  // as much room east as west
    EXPECT_NEAR(room[2], room[3], 1e-6);
    const auto closer = extent(MapView(v.Centre(), v.Zoom() + 1, w, h));
    EXPECT_LT(*std::min_element(closer.begin(), closer.end()), margin);

    // One point, or all in one place: as close as allowed, never closer.
    EXPECT_EQ(FitView({{50.1, 8.7}}, w, h, margin, 13).Zoom(), 13);
    EXPECT_EQ(FitView(points, w, h, margin, 3).Zoom(), 3);
}

}  // namespace
}  // namespace monitor
