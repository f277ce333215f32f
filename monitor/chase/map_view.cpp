#include "monitor/chase/map_view.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace monitor {

namespace {

constexpr int kMaxMapRings = 40;
// Web Mercator projects the WGS84 positions onto a sphere of the ellipsoid's equatorial radius.
constexpr double kWebMercatorRadiusM = 6378137;

double WorldSize(int zoom) {
    return std::ldexp(double(kTileSizePx), zoom);
}

// `v` into [0, m).
double Wrap(double v, double m) {
    const double r = std::fmod(v, m);
    return r < 0 ? r + m : r;
}

// The shorter way round the world from `from` to `to` along x.
double WrappedDx(double from, double to, double size) {
    return Wrap(to - from + size / 2, size) - size / 2;
}

}  // namespace

PlotPoint WorldPixel(const LatLonDeg& p, int zoom) {
    const double size = WorldSize(zoom);
    const double lat =
        std::clamp(p.lat, -kMaxMercatorLat, kMaxMercatorLat) * std::numbers::pi / 180;
    const double lon = Wrap(p.lon + 180, 360) - 180;
    return {(lon + 180) / 360 * size,
            (1 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2 * size};
}

LatLonDeg FromWorldPixel(const PlotPoint& w, int zoom) {
    const double size = WorldSize(zoom);
    const double lon = Wrap(w.x, size) / size * 360 - 180;
    const double y = std::clamp(w.y, 0.0, size);
    const double lat =
        std::atan(std::sinh(std::numbers::pi * (1 - 2 * y / size))) * 180 / std::numbers::pi;
    return {lat, lon};
}

TileId TileAt(const LatLonDeg& p, int zoom) {
    const PlotPoint w = WorldPixel(p, zoom);
    const int last = (1 << zoom) - 1;
    return {zoom, std::clamp(static_cast<int>(std::floor(w.x / kTileSizePx)), 0, last),
            std::clamp(static_cast<int>(std::floor(w.y / kTileSizePx)), 0, last)};
}

int FlipRow(int z, int y) {
    return (1 << z) - 1 - y;
}

TileId ParentTile(const TileId& t) {
    return {t.z - 1, t.x / 2, t.y / 2};
}

double MetresPerPixel(double lat, int zoom) {
    return 2 * std::numbers::pi * kWebMercatorRadiusM * std::cos(lat * std::numbers::pi / 180) /
           WorldSize(zoom);
}

MapView::MapView(const LatLonDeg& centre, int zoom, double widthPx, double heightPx)
    : width_(widthPx), height_(heightPx) {
    SetZoom(zoom);
    SetCentre(centre);
}

void MapView::Resize(double widthPx, double heightPx) {
    width_ = widthPx;
    height_ = heightPx;
}

void MapView::SetCentre(const LatLonDeg& centre) {
    centre_ = FromWorldPixel(WorldPixel(centre, zoom_), zoom_);
}

void MapView::SetZoom(int zoom) {
    zoom_ = std::clamp(zoom, kMinMapZoom, kMaxMapZoom);
}

PlotPoint MapView::ToScreen(const LatLonDeg& p) const {
    const PlotPoint c = WorldPixel(centre_, zoom_);
    const PlotPoint w = WorldPixel(p, zoom_);
    return {width_ / 2 + WrappedDx(c.x, w.x, WorldSize(zoom_)), height_ / 2 + (w.y - c.y)};
}

LatLonDeg MapView::FromScreen(const PlotPoint& s) const {
    const PlotPoint c = WorldPixel(centre_, zoom_);
    return FromWorldPixel({c.x + s.x - width_ / 2, c.y + s.y - height_ / 2}, zoom_);
}

void MapView::Pan(double dxPx, double dyPx) {
    centre_ = FromScreen({width_ / 2 - dxPx, height_ / 2 - dyPx});
}

void MapView::ZoomAbout(const PlotPoint& pointer, int steps) {
    const LatLonDeg under = FromScreen(pointer);
    SetZoom(zoom_ + steps);
    const PlotPoint w = WorldPixel(under, zoom_);
    centre_ =
        FromWorldPixel({w.x - (pointer.x - width_ / 2), w.y - (pointer.y - height_ / 2)}, zoom_);
}

std::vector<PlacedTile> MapView::VisibleTiles() const {
    std::vector<PlacedTile> tiles;
    const PlotPoint c = WorldPixel(centre_, zoom_);
    const double left = c.x - width_ / 2, top = c.y - height_ / 2;
    const int n = 1 << zoom_;
    const int x0 = static_cast<int>(std::floor(left / kTileSizePx));
    const int x1 = static_cast<int>(std::ceil((left + width_) / kTileSizePx));
    const int y0 = std::max(0, static_cast<int>(std::floor(top / kTileSizePx)));
    const int y1 = std::min(n, static_cast<int>(std::ceil((top + height_) / kTileSizePx)));
    for (int ty = y0; ty < y1; ++ty)
        for (int tx = x0; tx < x1; ++tx)
            tiles.push_back({{zoom_, ((tx % n) + n) % n, ty},
                             double(tx) * kTileSizePx - left,
                             double(ty) * kTileSizePx - top});
    return tiles;
}

double MapView::PxPerKm() const {
    return 1000 / MetresPerPixel(centre_.lat, zoom_);
}

ScaleBar MapView::MakeScaleBar(double maxPx) const {
    const double maxKm = std::max(maxPx, 1.0) / PxPerKm();
    // The largest of 1, 2, 5 x 10^n km that fits.
    const double power = std::pow(10.0, std::floor(std::log10(maxKm)));
    double km = power;
    for (double m : {2.0, 5.0})
        if (m * power <= maxKm) km = m * power;
    const std::string label = km < 1 ? PlainNumber(km * 1000) + " m" : PlainNumber(km) + " km";
    return {km * PxPerKm(), label};
}

int FitZoom(const LatLonDeg& centre, const std::vector<LatLonDeg>& points, double widthPx,
            double heightPx, double marginPx) {
    for (int z = kMaxMapZoom; z > kMinMapZoom; --z) {
        const MapView v(centre, z, widthPx, heightPx);
        const bool fits = std::all_of(points.begin(), points.end(), [&](const LatLonDeg& p) {
            const PlotPoint s = v.ToScreen(p);
            return s.x >= marginPx && s.x <= widthPx - marginPx && s.y >= marginPx &&
                   s.y <= heightPx - marginPx;
        });
        if (fits) return z;
    }
    return kMinMapZoom;
}

MapView FitView(const std::vector<LatLonDeg>& points, double widthPx, double heightPx,
                double marginPx, int maxZoom) {
    PlotPoint lo = WorldPixel(points.front(), 0), hi = lo;
    for (const LatLonDeg& p : points) {
        const PlotPoint w = WorldPixel(p, 0);
        lo = {std::min(lo.x, w.x), std::min(lo.y, w.y)};
        hi = {std::max(hi.x, w.x), std::max(hi.y, w.y)};
    }
    const LatLonDeg middle = FromWorldPixel({(lo.x + hi.x) / 2, (lo.y + hi.y) / 2}, 0);
    // Each level doubles the span; the closest level at which it still fits the room.
    const double roomX = std::max(0.0, widthPx - 2 * marginPx);
    const double roomY = std::max(0.0, heightPx - 2 * marginPx);
    int zoom = std::min(maxZoom, kMaxMapZoom);
    while (zoom > kMinMapZoom &&
           ((hi.x - lo.x) * (1 << zoom) > roomX || (hi.y - lo.y) * (1 << zoom) > roomY))
        --zoom;
    return MapView(middle, zoom, widthPx, heightPx);
}

GroundTrackView MakeMapTrackView(const MapView& view, const LatLonDeg& home,
                                 const std::vector<FlightPoint>& track,
                                 const std::optional<LatLonDeg>& landing) {
    GroundTrackView v;
    v.home = view.ToScreen(home);
    // Mercator stretches the map by 1 / cos(latitude): rings in true km around home.
    v.pxPerKm =
        1000 / MetresPerPixel(std::clamp(home.lat, -kMaxMercatorLat, kMaxMercatorLat), view.Zoom());
    const double w = view.Width(), h = view.Height();
    v.ringStepKm = NiceStep(std::min(w, h) / 2 / v.pxPerKm, 4);
    double farPx = 0;
    for (const PlotPoint corner :
         {PlotPoint{0, 0}, PlotPoint{w, 0}, PlotPoint{0, h}, PlotPoint{w, h}})
        farPx = std::max(farPx, std::hypot(corner.x - v.home.x, corner.y - v.home.y));
    const int rings = std::clamp(static_cast<int>(std::ceil(farPx / (v.ringStepKm * v.pxPerKm))), 1,
                                 kMaxMapRings);
    for (int r = 1; r <= rings; ++r) {
        v.ringRadiiPx.push_back(r * v.ringStepKm * v.pxPerKm);
        v.ringLabels.push_back(PlainNumber(r * v.ringStepKm) + " km");
    }
    std::optional<LatLonDeg> last;
    for (const FlightPoint& f : track) {
        if (!f.position) continue;
        v.track.push_back(view.ToScreen(*f.position));
        last = f.position;
    }
    if (last) v.last = view.ToScreen(*last);
    if (landing) v.landing = view.ToScreen(*landing);
    return v;
}

}  // namespace monitor
