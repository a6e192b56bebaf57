#include "stream_recipes.h"

#include <sstream>

namespace d2u {
namespace test {
namespace {

// Bumped whenever a recipe changes, so that cached streams are made again.
const char* const kRecipeVersion = "v1";

struct Source {
    std::string size = "352x288";
    std::string rate = "25";
    int frames = 30;
    std::string filters;  // extra -vf chain, applied after the test pattern
};

std::string SourceInput(const Source& source) {
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=" + source.size +
                          ":rate=" + source.rate + "'";
    if (!source.filters.empty()) command += " -vf '" + source.filters + "'";
    return command + " -frames:v " + std::to_string(source.frames);
}

// Encoded by ffmpeg's own MPEG video encoders.
StreamRecipe Ffmpeg(const std::string& name, const std::string& codec, const Source& source,
                    const std::string& options, bool quick = false) {
    std::string format = codec == "mpeg1video" ? "mpeg1video" : "mpeg2video";
    std::string extension = codec == "mpeg1video" ? ".m1v" : ".m2v";
    StreamRecipe recipe;
    recipe.name = name + "_" + kRecipeVersion + extension;
    recipe.command = SourceInput(source) + " -c:v " + codec + " -sc_threshold 1000000000 " +
                     options + " -f " + format + " {out}";
    recipe.quick = quick;
    return recipe;
}

// Encoded by mjpegtools' mpeg2enc from a yuv4mpeg pipe.
StreamRecipe Mpeg2enc(const std::string& name, const Source& source, const std::string& options,
                      bool quick = false) {
    StreamRecipe recipe;
    bool mpeg1 = options.find("-f 0") != std::string::npos;
    recipe.name = name + "_" + kRecipeVersion + (mpeg1 ? ".m1v" : ".m2v");
    recipe.command =
        SourceInput(source) + " -f yuv4mpegpipe - | mpeg2enc -v 0 " + options + " -o {out}";
    recipe.quick = quick;
    return recipe;
}

// A quantiser matrix of 64 values in the encoder's comma-separated form.
std::string Matrix(int first, int step, int spread) {
    std::ostringstream text;
    for (int k = 0; k < 64; ++k) {
        text << (k ? "," : "") << (k == 0 ? first : first + (k * step) % spread);
    }
    return text.str();
}

Source Cif(int frames, const std::string& filters = "") {
    Source source;
    source.frames = frames;
    source.filters = filters;
    return source;
}

Source Sized(const std::string& size, const std::string& rate, int frames,
             const std::string& filters = "") {
    Source source{size, rate, frames, filters};
    return source;
}

const char* const kNoise = "noise=alls=8:allf=t";
const char* const kInterlaceTop = "tinterlace=mode=interleave_top,setfield=tff";
const char* const kInterlaceBottom = "tinterlace=mode=interleave_bottom,setfield=bff";

}  // namespace

std::vector<StreamRecipe> ConformanceRecipes() {
    const std::string intraMatrix = Matrix(8, 3, 41);
    const std::string interMatrix = Matrix(16, 7, 29);
    const std::string matrices = "-intra_matrix " + intraMatrix + " -inter_matrix " + interMatrix;
    return {
        Ffmpeg("mpeg1_cif_ipb", "mpeg1video", Cif(40), "-q:v 4 -g 12 -bf 2", true),
        Ffmpeg("mpeg1_odd_200x120", "mpeg1video", Sized("200x120", "25", 30),
               "-b:v 400k -g 15 -bf 2"),
        Ffmpeg("mpeg1_custom_matrices", "mpeg1video", Cif(25, kNoise),
               "-q:v 3 -g 12 -bf 1 " + matrices),
        Ffmpeg("mpeg1_intra_only", "mpeg1video", Cif(10, kNoise), "-q:v 2 -g 1"),
        Ffmpeg("mpeg2_cif_progressive", "mpeg2video", Cif(40), "-q:v 3 -g 12 -bf 2", true),
        Ffmpeg("mpeg2_pal_interlaced", "mpeg2video",
               Sized("720x576", "50", 24, std::string(kInterlaceTop) + "," + kNoise),
               "-q:v 4 -g 12 -bf 2 -flags +ildct+ilme -top 1", true),
        Ffmpeg("mpeg2_ntsc_interlaced_alternate_scan", "mpeg2video",
               Sized("720x480", "60000/1001", 20, kInterlaceBottom),
               "-q:v 4 -g 15 -bf 2 -flags +ildct+ilme -top 0 -alternate_scan 1 -aspect 16:9"),
        Ffmpeg("mpeg2_intra_vlc_nonlinear_quant", "mpeg2video", Cif(30, kNoise),
               "-q:v 6 -qmax 28 -g 12 -bf 2 -intra_vlc 1 -non_linear_quant 1"),
        Ffmpeg("mpeg2_custom_matrices", "mpeg2video", Cif(25, kNoise),
               "-q:v 3 -g 12 -bf 2 " + matrices),
        Ffmpeg("mpeg2_dc8", "mpeg2video", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 8"),
        Ffmpeg("mpeg2_dc9", "mpeg2video", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 9"),
        Ffmpeg("mpeg2_dc10", "mpeg2video", Cif(12), "-q:v 2 -g 6 -bf 2 -dc 10", true),
        Ffmpeg("mpeg2_dc11", "mpeg2video", Cif(12, kNoise), "-q:v 2 -g 6 -bf 2 -dc 11"),
        Ffmpeg("mpeg2_short_gop_without_p", "mpeg2video", Cif(20), "-q:v 3 -g 3 -bf 2"),
        Ffmpeg("mpeg2_long_gop", "mpeg2video", Cif(50), "-q:v 4 -g 300 -bf 2"),
        Ffmpeg("mpeg2_closed_gops_ip", "mpeg2video", Cif(30), "-q:v 4 -g 10 -bf 0 -flags +cgop"),
        Ffmpeg("mpeg2_odd_200x120", "mpeg2video", Sized("200x120", "25", 30),
               "-b:v 600k -g 12 -bf 2", true),
        Ffmpeg("mpeg2_hd_1080_20mbit", "mpeg2video",
               Sized("1920x1080", "50", 8, std::string(kInterlaceTop) + "," + kNoise),
               "-b:v 20M -maxrate 20M -bufsize 8M -g 12 -bf 2 -flags +ildct+ilme -top 1"),
        Mpeg2enc("mpeg2enc_mpeg1", Cif(30), "-f 0 -R 2 -g 6 -G 12", true),
        Mpeg2enc("mpeg2enc_dvd", Sized("720x576", "25", 25), "-f 8 -R 2 -a 3"),
        Mpeg2enc("mpeg2enc_dvd_interlaced",
                 Sized("720x576", "50", 20, std::string(kInterlaceTop) + "," + kNoise),
                 "-f 8 -R 2 -I 1"),
    };
}

}  // namespace test
}  // namespace d2u
