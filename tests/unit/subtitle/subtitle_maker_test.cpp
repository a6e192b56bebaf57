// tools/subtitle-maker: its records are byte for byte those of the tests' own encoder, whose
// records the other subtitle tests draw through the library.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "support/subtitle_scenes.h"
#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

// Pictures of random runs, once as colour indices with "rest of the line" codes, once as grey
// levels (one of them as PNG when ImageMagick is there) with runs coded by their lengths, index 0
// drawn and 2 hidden.
TEST(SubtitleMaker, RecordsAreThoseOfTheTestsOwnEncoder) {
    if (!CommandAvailable("python3")) GTEST_SKIP() << "python3 is not installed";
    const uint8_t palette[4] = {11, 0, 140, 250};
    // Width, height and longest run.
    const int32_t shapes[][3] = {{1, 1, 1},     {7, 1, 3},     {33, 9, 20},
                                 {720, 3, 700}, {720, 4, 300}, {95, 47, 70}};
    for (bool indexed : {true, false}) {
        SCOPED_TRACE(indexed ? "indexed" : "grey");
        const int32_t visible[4] = {indexed ? 0 : 1, 1, indexed ? 1 : 0, 1};
        std::string arguments =
            indexed ? "--indexed --line-end zero" : "--line-end explicit --visible 1,1,0,1";
        arguments += " --palette 11,0,140,250";
        std::vector<std::vector<uint8_t>> records;
        for (size_t i = 0; i < std::size(shapes); ++i) {
            const int32_t width = shapes[i][0], height = shapes[i][1];
            IndexRows rows = RandomPicture(uint32_t(100 + i), width, height, shapes[i][2]);
            // A binary PGM of the indices or their grey levels.
            std::string pgm =
                "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
            for (const auto& row : rows) {
                for (int32_t value : row) pgm += char(indexed ? value : palette[value]);
            }
            std::string file = WorkPath("maker_" + std::to_string(i) + ".pgm");
            WriteFileBytes(file, std::vector<uint8_t>(pgm.begin(), pgm.end()));
            if (!indexed && i == 2 && CommandAvailable("convert")) {
                ASSERT_EQ(RunCommand("convert '" + file + "' '" + file + ".png'"), 0);
                file += ".png";
            }
            arguments += " --record '" + file + "' " + std::to_string(i) + " " + std::to_string(i) +
                         ".5 0 0";
            // The tool writes colour entries without noise.
            Scene scene = MakeScene(rows, 0, 0, float(i), float(i) + 0.5f);
            for (int c = 0; c < 4; ++c) {
                scene.fields.Colour(c) = static_cast<uint32_t>(palette[c]) << 8;
                scene.fields.Visibility(c) = visible[c];
            }
            scene.endCode = indexed;
            records.push_back(scene.Record());
        }
        std::string output = WorkPath("maker.sub");
        ASSERT_EQ(RunCommand("python3 '" D2U_SOURCE_DIR "/tools/subtitle-maker' -o '" + output +
                             "' " + arguments),
                  0);
        EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(WriteSubtitleFile("ours.sub", records)));
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
