#include "monitor/core/course_image.h"

#include <cmath>

#include "monitor/core/track.h"

namespace monitor {

namespace {
constexpr int kMargin = 15;  // between the image edge and the circle
}  // namespace

CourseImageLayout CourseLayout(int w, int h) {
    CourseImageLayout l;
    l.ellipseTopLeft = {kMargin, kMargin};
    l.ellipseBottomRight = {w - kMargin, h - kMargin};
    l.centre = {w / 2, h / 2};
    l.north = {w / 2 - 5, 2};
    l.south = {w / 2 - 5, h - 15};
    l.west = {2, h / 2 - 9};
    l.east = {w - 10, h / 2 - 9};
    return l;
}

Pixel CourseLineEnd(int w, int h, double courseDeg) {
    if (!std::isfinite(courseDeg)) courseDeg = 0;
    const double rad = courseDeg * static_cast<double>(common::kRadPerDeg);
    const double x = std::sin(rad) * (w - 2 * kMargin) / 2.0 + w / 2.0;
    const double y = std::cos(rad) * (2 * kMargin - h) / 2.0 + h / 2.0;
    return {static_cast<int>(std::trunc(x)), static_cast<int>(std::trunc(y))};
}

}  // namespace monitor
