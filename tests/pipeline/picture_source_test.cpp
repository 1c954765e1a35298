// The read-out's note on the map's choice: the image with the larger share
// of a pixel, and that share, decoded with the map's own table.
#include "pipeline/picture_source.h"
#include "maps/maps.h"

#include <gtest/gtest.h>

namespace {

TEST(MapChoices, NameTheImageWithTheLargerShare) {
    const MapChoices two({}, buildTablaMapa(2), {"IMG_1.tiff", "IMG_2.tiff"});
    const MapChoices three({}, buildTablaMapa(3), {"IMG_1.tiff", "IMG_2.tiff", "IMG_3.tiff"});
    const struct {
        const MapChoices& map;
        int level;
        const char* note;
    } cases[] = {
        {two, 0, "from IMG_2.tiff, 100 %"},    // image n is black
        {two, 255, "from IMG_1.tiff, 100 %"},  // image 1 white
        {two, 97, "from IMG_2.tiff, 62 %"},    // 1.62: 62 % of image 2
        {two, 160, "from IMG_1.tiff, 63 %"},   // 1.37: 63 % of image 1
        {two, 128, "from IMG_1.tiff, 50 %"},   // 1.498
        {three, greyOfImage(2, 3), "from IMG_2.tiff, 100 %"},
        {three, 100, "from IMG_2.tiff, 78 %"},  // 2.22
    };
    for (const auto& c : cases) EXPECT_EQ(c.map.ofLevel(c.level), c.note) << c.level;
    // A table for another number of images than named, or none, tells nothing.
    EXPECT_EQ(MapChoices({}, buildTablaMapa(4), {"IMG_1.tiff"}).ofLevel(0), "");
    EXPECT_EQ(MapChoices({}, {}, {"IMG_1.tiff"}).ofLevel(255), "");
}

}  // namespace
