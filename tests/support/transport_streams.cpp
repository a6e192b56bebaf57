#include "support/transport_streams.h"

#include "d2udir.h"
#include "support/test_env.h"

namespace d2u {
namespace test {

const std::vector<TransportStream>& TransportStreams() {
    static const std::vector<TransportStream> streams = [] {
        const std::string tone = " -f lavfi -i sine=frequency=440:sample_rate=48000",
                          cif = "352x288";
        // ffmpeg's moving test pattern and a tone, `frames` frames at 25 frames/s.
        auto pattern = [&](const std::string& size, int frames) {
            return "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25" +
                   tone + " -frames:v " + std::to_string(frames);
        };
        const std::string mpeg2 = " -c:v mpeg2video -g 12 -bf 2 -b:v 1500k";
        const std::string twoPrograms =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=352x288:rate=25" + tone +
            " -f lavfi -i testsrc=size=320x240:rate=25" + tone +
            " -t 1.6 -map 0:v -map 1:a -map 2:v -map 3:a" + mpeg2 +
            " -c:a ac3 -program st=0:st=1 -program st=2:st=3 -f mpegts {out}";
        const std::string copyVideo = " -c:v copy -f mpeg2video";
        // The paths hold the command that makes the stream and the options that pick the video
        // out until these have run.
        const std::vector<TransportStream> recipes = {
            {"ts_mp2", pattern(cif, 50) + mpeg2 + " -c:a mp2 -shortest -f mpegts {out}",
             "-map 0:v:0" + copyVideo, D2U_CONTAINER_TRANSPORT, -1, 256, 352, 288},
            {"m2ts_ac3",
             pattern(cif, 50) + mpeg2 + " -c:a ac3 -shortest -mpegts_m2ts_mode 1 -f mpegts {out}",
             "-map 0:v:0" + copyVideo, D2U_CONTAINER_TRANSPORT_192, -1, 0x1011, 352, 288},
            {"two_programs", twoPrograms, "-map 0:v:0" + copyVideo, D2U_CONTAINER_TRANSPORT, -1,
             256, 352, 288},
            {"two_programs_pid_258", twoPrograms, "-map 0:v:1" + copyVideo, D2U_CONTAINER_TRANSPORT,
             258, 258, 320, 240},
            {"mpeg1",
             pattern(cif, 40) + " -c:v mpeg1video -g 10 -bf 2 -b:v 1500k -c:a mp2 "
                                "-shortest -f mpegts {out}",
             "-map 0:v:0 -c:v copy -f mpeg1video", D2U_CONTAINER_TRANSPORT, -1, 256, 352, 288},
            {"hdv_1080i",
             pattern("1920x1080", 12) + " -c:v mpeg2video -g 6 -bf 2 -b:v 20M -maxrate 20M "
                                        "-bufsize 9M -flags +ilme+ildct -top 1 -c:a mp2 -shortest "
                                        "-f mpegts {out}",
             "-map 0:v:0" + copyVideo, D2U_CONTAINER_TRANSPORT, -1, 256, 1920, 1080},
        };
        std::vector<TransportStream> made;
        for (TransportStream stream : recipes) {
            std::string extraction = stream.videoPath;
            // Both programs' videos come from one file.
            stream.path = CachedArtifact(
                "transport_" + (stream.pid < 0 ? stream.name : "two_programs") + ".ts",
                stream.path);
            stream.videoPath = CachedArtifact(
                "transport_" + stream.name + ".es",
                "ffmpeg -nostdin -v error -y -i '" + stream.path + "' " + extraction + " {out}");
            if (!stream.path.empty() && !stream.videoPath.empty()) made.push_back(stream);
        }
        return made;
    }();
    return streams;
}

}  // namespace test
}  // namespace d2u
