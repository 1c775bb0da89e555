#include <gtest/gtest.h>

#include "ui/CBaseDialog.h"

namespace veltrano {
namespace {

TEST(RoundedRegion, CornersAreCutByTheEllipseAndEdgesKept) {
    cairo_region_t* r = CBaseDialog::roundedRegion(400, 250, 100);
    // Corner pixels lie outside the 50-pixel corner circles, edge midpoints and the centre inside.
    EXPECT_FALSE(cairo_region_contains_point(r, 0, 0));
    EXPECT_FALSE(cairo_region_contains_point(r, 399, 0));
    EXPECT_FALSE(cairo_region_contains_point(r, 0, 249));
    EXPECT_FALSE(cairo_region_contains_point(r, 399, 249));
    EXPECT_FALSE(cairo_region_contains_point(r, 10, 10));
    EXPECT_TRUE(cairo_region_contains_point(r, 200, 0));
    EXPECT_TRUE(cairo_region_contains_point(r, 0, 125));
    EXPECT_TRUE(cairo_region_contains_point(r, 399, 125));
    EXPECT_TRUE(cairo_region_contains_point(r, 200, 249));
    EXPECT_TRUE(cairo_region_contains_point(r, 20, 20));  // inside the circle around (50, 50)
    EXPECT_TRUE(cairo_region_contains_point(r, 50, 0));   // where the arc meets the top edge
    EXPECT_FALSE(cairo_region_contains_point(r, 400, 125));
    cairo_region_destroy(r);
}

TEST(RoundedRegion, SmallOrEmptySizes) {
    cairo_region_t* empty = CBaseDialog::roundedRegion(0, 10, 100);
    EXPECT_TRUE(cairo_region_is_empty(empty));
    cairo_region_destroy(empty);
    // A part smaller than the ellipse becomes a circle-ish shape, never an empty one.
    cairo_region_t* small = CBaseDialog::roundedRegion(20, 20, 100);
    EXPECT_TRUE(cairo_region_contains_point(small, 10, 10));
    EXPECT_FALSE(cairo_region_contains_point(small, 0, 0));
    cairo_region_destroy(small);
}

}  // namespace
}  // namespace veltrano
