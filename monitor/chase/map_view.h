// Web Mercator raster-tile geometry for the map under the ground track: positions in world
// pixels (256 per tile at each zoom), which tiles a view covers, zooming about a point, the
// TMS row order of MBTiles files and the scale bar. Plain C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/chase/chase_plots.h"
#include "monitor/chase/flight_analytics.h"

namespace monitor {

inline constexpr int kTileSizePx = 256;
inline constexpr int kMinMapZoom = 0;
inline constexpr int kMaxMapZoom = 19;
// Web Mercator stops here so that the world is square.
inline constexpr double kMaxMercatorLat = 85.0511287798066;

struct TileId {
    int z = 0, x = 0, y = 0;  // y counts from the north (XYZ order)

    bool operator==(const TileId&) const = default;
    // One number per tile, for hashing and caches.
    std::uint64_t Key() const {
        return (std::uint64_t(z) << 48) | (std::uint64_t(x) << 24) | std::uint64_t(y);
    }
};

// Pixels from the world's north-west corner at `zoom`.
PlotPoint WorldPixel(const LatLonDeg& p, int zoom);
LatLonDeg FromWorldPixel(const PlotPoint& w, int zoom);

// The tile holding `p` at `zoom`.
TileId TileAt(const LatLonDeg& p, int zoom);

// MBTiles number rows from the south; XYZ from the north. Its own inverse.
int FlipRow(int z, int y);

// The tile one zoom level out that contains `t`, and where `t` sits in it (0 or 1 per axis).
TileId ParentTile(const TileId& t);

// Ground metres one pixel covers at latitude `lat` and `zoom`.
double MetresPerPixel(double lat, int zoom);

struct PlacedTile {
    TileId id;
    double x = 0, y = 0;  // its north-west corner on the screen
};

struct ScaleBar {
    double lengthPx = 0;
    std::string label;  // "500 m", "2 km"
};

// A north-up map window of `widthPx` x `heightPx` centred on `centre` at a whole zoom level.
class MapView {
  public:
    MapView() = default;
    MapView(const LatLonDeg& centre, int zoom, double widthPx, double heightPx);

    const LatLonDeg& Centre() const { return centre_; }
    int Zoom() const { return zoom_; }
    double Width() const { return width_; }
    double Height() const { return height_; }
    void Resize(double widthPx, double heightPx);
    void SetCentre(const LatLonDeg& centre);
    void SetZoom(int zoom);

    PlotPoint ToScreen(const LatLonDeg& p) const;
    LatLonDeg FromScreen(const PlotPoint& s) const;

    // Moves the map with the pointer: the point under it moves by (dx, dy) pixels.
    void Pan(double dxPx, double dyPx);
    // Zooms by `steps` levels keeping the place under `pointer` where it is on the screen.
    void ZoomAbout(const PlotPoint& pointer, int steps);

    // The tiles that show in the window, wrapped round the date line; none below the poles' limit.
    std::vector<PlacedTile> VisibleTiles() const;

    double PxPerKm() const;
    // A bar of a round length no longer than `maxPx`.
    ScaleBar MakeScaleBar(double maxPx) const;

  private:
    LatLonDeg centre_;
    int zoom_ = 0;
    double width_ = 0, height_ = 0;
};

// The closest zoom at which every one of `points` lies at least `marginPx` inside a window of
// that size centred on `centre`; kMaxMapZoom for none.
int FitZoom(const LatLonDeg& centre, const std::vector<LatLonDeg>& points, double widthPx,
            double heightPx, double marginPx);

// The view of `widthPx` x `heightPx` centred on the middle of what `points` span, at the closest
// zoom (at most `maxZoom`) at which every one lies at least `marginPx` inside it. At least one
// point.
MapView FitView(const std::vector<LatLonDeg>& points, double widthPx, double heightPx,
                double marginPx, int maxZoom);

// The ground track on the map: rings around home a round distance apart filling the window, the
// track, last position and landing estimate where the map puts them.
GroundTrackView MakeMapTrackView(const MapView& view, const LatLonDeg& home,
                                 const std::vector<FlightPoint>& track,
                                 const std::optional<LatLonDeg>& landing);

}  // namespace monitor
