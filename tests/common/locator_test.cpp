#include "common/locator.h"

#include <gtest/gtest.h>

using common::IsValidLocator;
using common::LatLonToLocator;
using common::LocatorToLatLon;

TEST(LatLonToLocator, KnownSquares) {
    EXPECT_EQ(*LatLonToLocator(0.15, 51.55), "JO01BN");
    EXPECT_EQ(*LatLonToLocator(8.3334, 49.0001), "JN49EA");
    EXPECT_EQ(*LatLonToLocator(-180.0, -90.0), "AA00AA");
    EXPECT_EQ(*LatLonToLocator(180.0, 90.0), "RR99XX");
}

TEST(LatLonToLocator, OutOfRangeGivesNothing) {
    EXPECT_FALSE(LatLonToLocator(0.0, 91.0));
    EXPECT_FALSE(LatLonToLocator(181.0, 0.0));
    EXPECT_FALSE(LatLonToLocator(0.0, -90.5));
}

TEST(IsValidLocator, Rules) {
    EXPECT_TRUE(IsValidLocator("JN49EA"));
    EXPECT_TRUE(IsValidLocator("JO31AA"));
    EXPECT_TRUE(IsValidLocator("**49EA"));
    EXPECT_TRUE(IsValidLocator("JN49EAxx"));
    EXPECT_FALSE(IsValidLocator("JN49"));
    EXPECT_FALSE(IsValidLocator("AN49EA"));
    EXPECT_FALSE(IsValidLocator("jn49ea"));
    EXPECT_FALSE(IsValidLocator(""));
}

TEST(LocatorToLatLon, SouthWestCorner) {
    auto p = LocatorToLatLon("JN49EA");
    EXPECT_NEAR(p.lon, 8.3333333, 1e-6);
    EXPECT_NEAR(p.lat, 49.0, 1e-9);
    p = LocatorToLatLon("JO31AA");
    EXPECT_NEAR(p.lon, 6.0, 1e-9);
    EXPECT_NEAR(p.lat, 51.0, 1e-9);
}

TEST(Locator, RoundTripThroughSquareCentre) {
    for (const char* loc : {"JN49EA", "JO01BN", "IO91WM", "KP20LE"}) {
        const auto sw = LocatorToLatLon(loc);
        EXPECT_EQ(*LatLonToLocator(sw.lon + 1.0 / 24, sw.lat + 1.0 / 48), loc);
    }
}
