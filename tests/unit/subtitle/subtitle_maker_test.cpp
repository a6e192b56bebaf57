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

std::string Maker(const std::string& arguments) {
    return "python3 '" + std::string(D2U_SOURCE_DIR) + "/tools/subtitle-maker' " + arguments;
}

// A binary PGM of the given values.
std::string WritePgm(const std::string& name, const IndexRows& rows) {
    std::string header =
        "P5\n" + std::to_string(rows[0].size()) + " " + std::to_string(rows.size()) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (const auto& row : rows) bytes.insert(bytes.end(), row.begin(), row.end());
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

// The record the tool makes of a picture: colour entries without noise.
Scene ToolScene(const IndexRows& rows, int32_t x, int32_t y, float start, float end,
                const uint8_t palette[4], const int32_t visible[4]) {
    Scene scene = MakeScene(rows, x, y, start, end);
    for (int c = 0; c < 4; ++c) {
        scene.fields.Colour(c) = static_cast<uint32_t>(palette[c]) << 8;
        scene.fields.Visibility(c) = visible[c];
    }
    return scene;
}

// Pictures of random runs, once as colour indices with "rest of the line" codes, once as grey
// levels (one of them as PNG when ImageMagick is there) with runs coded by their lengths, index 0
// drawn and 2 hidden.
TEST(SubtitleMaker, RecordsAreThoseOfTheTestsOwnEncoder) {
    if (!CommandAvailable("python3")) GTEST_SKIP() << "python3 is not installed";
    const uint8_t palette[4] = {11, 0, 140, 250};
    struct Shape {
        int32_t width, height, maxRun;
    };
    const Shape shapes[] = {{1, 1, 1},     {7, 1, 3},     {33, 9, 20},
                            {720, 3, 700}, {720, 4, 300}, {95, 47, 70}};
    for (bool indexed : {true, false}) {
        SCOPED_TRACE(indexed ? "indexed" : "grey");
        const int32_t visible[4] = {indexed ? 0 : 1, 1, indexed ? 1 : 0, 1};
        std::string arguments =
            indexed ? "--indexed --line-end zero" : "--line-end explicit --visible 1,1,0,1";
        arguments += " --palette 11,0,140,250";
        std::vector<std::vector<uint8_t>> records;
        for (size_t i = 0; i < std::size(shapes); ++i) {
            const Shape& shape = shapes[i];
            IndexRows rows = RandomPicture(static_cast<uint32_t>(100 + i), shape.width,
                                           shape.height, shape.maxRun);
            IndexRows picture = rows;
            for (auto& row : picture) {
                for (auto& value : row) value = indexed ? value : palette[value];
            }
            std::string file = WritePgm("maker_" + std::to_string(i) + ".pgm", picture);
            if (!indexed && i == 2 && CommandAvailable("convert")) {
                ASSERT_EQ(RunCommand("convert '" + file + "' '" + file + ".png'"), 0);
                file += ".png";
            }
            arguments += " --record '" + file + "' " + std::to_string(i) + " " + std::to_string(i) +
                         ".5 0 0";
            const auto start = static_cast<float>(i);
            Scene scene = ToolScene(rows, 0, 0, start, start + 0.5f, palette, visible);
            scene.endCode = indexed;
            records.push_back(scene.Record());
        }
        std::string output = WorkPath("maker.sub");
        ASSERT_EQ(RunCommand(Maker("-o '" + output + "' " + arguments)), 0);
        EXPECT_EQ(ReadFileBytes(output), ReadFileBytes(WriteSubtitleFile("ours.sub", records)));
    }
}

}  // namespace
}  // namespace test
}  // namespace d2u
