// Geometry of the course image: a circle with the compass letters outside it and one line
// from the centre in the direction of the last course. Pixel coordinates from the top-left
// corner, y downwards; north is up, east to the right.
#pragma once

namespace monitor {

inline constexpr int kCourseImageSize = 145;  // width and height of the image on the form

struct Pixel {
    int x = 0;
    int y = 0;
};

struct CourseImageLayout {
    Pixel ellipseTopLeft;  // bounding box of the circle
    Pixel ellipseBottomRight;
    Pixel centre;                    // start of the course line
    Pixel north, south, west, east;  // top-left of the letters "N", "S", "W", "O"
};

CourseImageLayout CourseLayout(int width, int height);

// End point of the course line for a course in degrees (0 north, 90 east).
Pixel CourseLineEnd(int width, int height, double courseDeg);

}  // namespace monitor
