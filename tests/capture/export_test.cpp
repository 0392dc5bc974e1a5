// orvanta-capture to MP4 and WebM as a viewer gets them: the streams as
// ffprobe sees them, a decoded frame against the same frame of a y4m
// capture, and the refusals, which leave nothing under the final name (an
// interrupted capture that still plays: capture_run_test.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "frame_writer.h"
#include "virtual_clock.h"
#include "intro_harness.h"
#include "test_support.h"

namespace {

const size_t kFrameBytes = 640 * 480 * 3 / 2;  // 4:2:0

struct Result {
  int status = -1;
  std::string log, out;
};

it::WorkDir staged(const std::string &name) {
  it::WorkDir wd(name);
  wd.stage({"tolvek-climax.xm", "ant.png", "code.png", "dio.c"});
  wd.stage_plugin();
  return wd;
}

Result run_capture(const it::WorkDir &wd, const std::vector<std::string> &args, const std::string &out) {
  std::vector<std::string> a = {"--out", out, "--quiet"};
  a.insert(a.end(), args.begin(), args.end());
  it::Process p(it::capture_program(), wd.path, {}, a);
  Result r;
  r.status = p.wait(240);
  r.log = p.log();
  r.out = out;
  return r;
}

using kt::output_of;

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// ffprobe's view of one stream ("v" or "a"), frames counted by decoding.
std::map<std::string, std::string> probe(const std::string &file, const char *stream) {
  std::istringstream lines(output_of(
      std::string("ffprobe -v error -count_frames -select_streams ") + stream +
      " -show_entries stream=codec_name,width,height,r_frame_rate,avg_frame_rate,"
      "nb_read_frames,channels,sample_rate,duration:stream_tags=DURATION -of default=nw=1 '" +
      file + "'"));
  std::map<std::string, std::string> kv;
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return kv;
}

// A stream's duration in seconds; WebM keeps it in a tag, "00:00:05.042".
double seconds_of(std::map<std::string, std::string> &stream) {
  if (stream["duration"] != "N/A" && !stream["duration"].empty())
    return std::stod(stream["duration"]);
  int h = 0, m = 0;
  double s = -1;
  sscanf(stream["TAG:DURATION"].c_str(), "%d:%d:%lf", &h, &m, &s);
  return h * 3600 + m * 60 + s;
}

std::string decoded_frame(const std::string &file, int n) {
  return output_of("ffmpeg -v error -i '" + file + "' -vf 'select=eq(n\\," + std::to_string(n) +
                   ")' -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
}

std::string y4m_frame(const std::string &file, int n) {
  std::ifstream in(file, std::ios::binary);
  std::string header;
  std::getline(in, header);
  in.seekg((std::streamoff)(n * (6 + kFrameBytes) + 6), std::ios::cur);
  std::string frame(kFrameBytes, '\0');
  in.read(&frame[0], (std::streamsize)frame.size());
  return in ? frame : std::string();
}

bool ffmpeg_tools() { return system("ffprobe -version >/dev/null 2>&1") == 0; }

}  // namespace

// The same seed gives the same frames and sound, byte for byte, another
// seed other frames; the sound is exactly as long as the pictures.
TEST(CaptureExport, SameSeedSameFramesSoundExactlyAsLong) {
  it::WorkDir wd = staged("export_seed");
  std::string files[3][2];
  const char *seeds[3] = {"42", "42", "43"};
  for (int i = 0; i < 3; i++) {
    const std::string out = wd.path + "/s" + std::to_string(i);
    Result r = run_capture(wd, {"--format", "y4m", "--seconds", "6", "--seed", seeds[i]}, out);
    ASSERT_EQ(r.status, 0) << r.log;
    files[i][0] = it::slurp(out + "/orvanta.y4m");
    files[i][1] = it::slurp(out + "/orvanta.wav");
  }
  EXPECT_EQ(files[0][0].size(), 145 * (6 + kFrameBytes) + files[0][0].find('\n') + 1);
  EXPECT_EQ(files[0][1].size(), 44 + (size_t)capture::samples_before(145, 44100, 24) * 4);
  EXPECT_TRUE(files[0][0] == files[1][0] && files[0][1] == files[1][1]) << "one seed, two runs";
  EXPECT_TRUE(files[0][0] != files[2][0]) << "the seed changes nothing";
  // The music plays from the third second: the last frame has its sound too.
  const std::string &wav = files[0][1];
  const size_t last = (size_t)(capture::samples_before(145, 44100, 24) -
                               capture::samples_before(144, 44100, 24)) * 4;
  ASSERT_GT(wav.size(), last);
  EXPECT_NE(wav.find_first_not_of('\0', wav.size() - last), std::string::npos)
      << "the last frame is silent";
}

TEST(CaptureExport, FiveSecondsPlayInStepAndMatchTheY4mFrames) {
  if (!capture::frame_writer_supports("mp4")) GTEST_SKIP() << "built without FFmpeg";
  if (!ffmpeg_tools()) GTEST_SKIP() << "no ffprobe";
  it::WorkDir wd = staged("export_five");
  Result ref = run_capture(wd, {"--format", "y4m", "--seconds", "5"}, wd.path + "/y4m");
  ASSERT_EQ(ref.status, 0) << ref.log;
  const std::string ref_frame = y4m_frame(ref.out + "/orvanta.y4m", 60);
  ASSERT_EQ(ref_frame.size(), kFrameBytes);

  struct Row {
    const char *format, *video, *audio, *rate;
  } rows[] = {{"mp4", "h264", "aac", "44100"}, {"webm", "vp9", "opus", "48000"}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.format);
    Result r = run_capture(wd, {"--format", row.format, "--seconds", "5"}, wd.path + "/" + row.format);
    ASSERT_EQ(r.status, 0) << r.log;
    const std::string file = r.out + "/orvanta." + row.format;
    EXPECT_FALSE(exists(file + ".part"));
    auto v = probe(file, "v"), a = probe(file, "a");
    EXPECT_EQ(v["codec_name"], row.video);
    EXPECT_EQ(v["width"] + "x" + v["height"], "640x480");
    EXPECT_EQ(v["r_frame_rate"], "24/1");
    EXPECT_EQ(v["avg_frame_rate"], "24/1");
    EXPECT_EQ(v["nb_read_frames"], "121");
    EXPECT_EQ(a["codec_name"], row.audio);
    EXPECT_EQ(a["channels"], "2");
    EXPECT_EQ(a["sample_rate"], row.rate);
    EXPECT_NEAR(seconds_of(v), 121 / 24.0, 1 / 24.0);
    EXPECT_NEAR(seconds_of(a), seconds_of(v), 1 / 24.0);

    const std::string frame = decoded_frame(file, 60);
    ASSERT_EQ(frame.size(), kFrameBytes);
    EXPECT_GE(kt::psnr(frame, ref_frame), 35.0);
  }
}

TEST(CaptureExport, RefusalsNameTheFileAndLeaveNothing) {
  if (!capture::frame_writer_supports("mp4")) {
    // Built without FFmpeg: the encoded formats are refused as usage.
    it::WorkDir wd("export_without_ffmpeg");
    Result r = run_capture(wd, {"--format", "webm"}, wd.path + "/out");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.log.find("built without FFmpeg"), std::string::npos) << r.log;
    return;
  }
  it::WorkDir wd = staged("export_refusals");
  const std::string not_dir = wd.path + "/a-file";
  std::ofstream(not_dir) << "not a directory\n";
  const std::string full = wd.path + "/full";
  mkdir(full.c_str(), 0755);
  ASSERT_EQ(symlink("/dev/full", (full + "/orvanta.mp4.part").c_str()), 0);

  struct Row {
    std::string out;
    std::vector<std::string> args;
    int status;
    std::string message;
  } rows[] = {
      {not_dir, {}, 1, not_dir + "/orvanta.mp4: Not a directory"},
      {full, {"--seconds", "5"}, 1, full + "/orvanta.mp4: No space left on device"},
      // Refused settings are usage errors, told before the folder is made.
      {wd.path + "/crf", {"--crf", "52"}, 2, "libx264 refuses crf 52 (it takes 0 to 51)"},
      {wd.path + "/vp9", {"--format", "webm", "--crf", "64"}, 2, "libvpx-vp9 refuses crf 64"},
      {wd.path + "/preset", {"--preset", "fastest"}, 2, "libx264 refuses preset fastest"},
      {wd.path + "/deadline", {"--format", "webm", "--preset", "slow"}, 2,
       "libvpx-vp9 refuses preset slow"},
      {wd.path + "/usage", {"--crf", "high"}, 2, "--crf wants a number"},
      {wd.path + "/y4m", {"--format", "y4m", "--crf", "20"}, 2, "--crf and --preset are for"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    Result r = run_capture(wd, row.args, row.out);
    EXPECT_EQ(r.status, row.status) << r.log;
    EXPECT_NE(r.log.find(row.message), std::string::npos) << r.log;
    for (const char *name : {"/orvanta.mp4", "/orvanta.webm", "/orvanta.mp4.part"})
      EXPECT_FALSE(exists(row.out + name)) << name;
    if (row.status == 2) {
      EXPECT_FALSE(exists(row.out)) << "made for a refused command";
    }
  }
}
