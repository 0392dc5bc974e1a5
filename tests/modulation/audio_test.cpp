// The sound a show is driven by: what the analysis reads in it frame by
// frame, and sound files decoded, taken in lockstep with the frames, played.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "audio_analysis.h"
#include "audio_file.h"
#include "test_support.h"
#include "virtual_clock.h"
#include "wav_writer.h"

namespace {

constexpr int kRate = 48000;

std::vector<float> sound(double seconds, const std::function<double(double)> &at) {
  std::vector<float> s((size_t)(seconds * kRate));
  for (size_t i = 0; i < s.size(); i++) s[i] = (float)at((double)i / kRate);
  return s;
}
// A 30 ms decaying 1 kHz click on every beat from 0.25 s, silence between.
std::vector<float> clicks(double bpm, double seconds) {
  return sound(seconds, [&](double t) {
    const double in = std::fmod(t - 0.25, 60 / bpm);
    return t < 0.25 || in > 0.03 ? 0 : 0.5 * std::exp(-in * 160) * std::sin(2 * M_PI * 1000 * in);
  });
}
// Music of a sort, `db` down: bass, chord and hi-hat, louder and softer, 6 s,
// then 2 s of silence.
std::vector<float> music(double db) {
  uint32_t noise = 1;
  return sound(8, [&](double t) {
    noise = noise * 1664525u + 1013904223u;
    const double hat = std::fmod(t, 0.25) < 0.03 ? ((noise >> 16) / 32768.0 - 1) * 0.3 : 0;
    return t >= 6 ? 0 : std::pow(10, db / 20) * (0.4 + 0.6 * std::fabs(std::sin(t * 1.3))) *
        (0.4 * std::sin(2 * M_PI * 70 * t) + 0.2 * std::sin(2 * M_PI * 440 * t) + 0.15 * std::sin(2 * M_PI * 660 * t) + hat);
  });
}
// The frames' values, the signal cut into frames as a show cuts it.
std::vector<AudioFrame> analyse(const std::vector<float> &s, int fps) {
  AudioAnalyser a(kRate, fps);
  std::vector<AudioFrame> out;
  for (int64_t f = 0; capture::samples_before(f + 1, kRate, fps) <= (int64_t)s.size(); f++) {
    const int64_t from = capture::samples_before(f, kRate, fps);
    out.push_back(a.analyse(s.data() + from, capture::samples_before(f + 1, kRate, fps) - from));
  }
  return out;
}

}  // namespace

// Beats within a frame of each click once the tempo is found, the tempo
// within 1 BPM after 8 s, an onset for each click's frame (at most a 24 fps
// frame late) halving every 80 ms, the phase rising through the beat.
struct Click { double bpm; int fps; };
class ClickTrack : public ::testing::TestWithParam<Click> {};
TEST_P(ClickTrack, BeatsOnsetsTempoAndPhase) {
  const Click c = GetParam();
  const std::vector<AudioFrame> f = analyse(clicks(c.bpm, 10), c.fps);
  const int n = (int)f.size(), found = 4 * c.fps, late = (c.fps + 23) / 24;
  std::vector<int> truth;  // the clicks' frames
  for (double t = 0.25; t < 10; t += 60 / c.bpm) truth.push_back((int)(t * c.fps));
  auto click = [&](int i, int before, int after) {
    return std::any_of(truth.begin(), truth.end(), [&](int k) { return i >= k - before && i <= k + after; });
  };
  auto flagged = [&](int k, int before, int after, double AudioFrame::*v) {
    return std::any_of(f.begin() + std::max(0, k - before), f.begin() + std::min(n, k + after + 1),
                       [&](const AudioFrame &a) { return a.*v == 1; });
  };
  for (int i = 1; i < n; i++) {
    EXPECT_TRUE(f[i].onset < 1 || click(i, 0, late)) << "stray onset at frame " << i;
    EXPECT_TRUE(f[i].onset == 1 || std::fabs(f[i].onset - f[i - 1].onset * std::pow(0.5, 12.5 / c.fps)) < 1e-9) << i;
    EXPECT_TRUE(f[i].beat == 0 || i < found || click(i, 1, 1)) << "stray beat at frame " << i;
    EXPECT_TRUE(i < 8 * c.fps || std::fabs(f[i].bpm - c.bpm) <= 1) << f[i].bpm << " BPM at frame " << i;
    EXPECT_TRUE(f[i].beat == 0 || f[i].phase == 0) << i;
    EXPECT_TRUE(i < found || f[i].beat == 1 || f[i].phase > f[i - 1].phase) << i;
    EXPECT_TRUE(i < found || i + 1 == n || f[i + 1].beat == 0 || f[i].phase > 0.75) << i;
  }
  for (int k : truth) {
    EXPECT_TRUE(flagged(k, 0, late, &AudioFrame::onset)) << "no onset for frame " << k;
    EXPECT_TRUE(k < found || flagged(k, 1, 1, &AudioFrame::beat)) << "no beat by frame " << k;
  }
}
INSTANTIATE_TEST_SUITE_P(Tempos, ClickTrack,
                         ::testing::Values(Click{90, 24}, Click{120, 24}, Click{128, 24}, Click{140, 24},
                                           Click{120, 25}, Click{128, 60}),
                         [](const auto &i) { return std::to_string((int)i.param.bpm) + "bpm_" + std::to_string(i.param.fps) + "fps"; });

// A steady sine drives its own band to full and leaves the far one near 0,
// loud or quiet.
TEST(AudioAnalyser, SineDrivesItsBand) {
  typedef double AudioFrame::*V;
  const struct { double hz, db; V driven, far; } rows[] = {
      {60, 0, &AudioFrame::low, &AudioFrame::high},    {60, -30, &AudioFrame::low, &AudioFrame::high},
      {800, -10, &AudioFrame::mid, &AudioFrame::low},  {5000, 0, &AudioFrame::high, &AudioFrame::low},
      {5000, -30, &AudioFrame::high, &AudioFrame::low}};
  for (const auto &t : rows) {
    const std::vector<AudioFrame> f = analyse(sound(2, [&](double s) { return std::pow(10, t.db / 20) * std::sin(2 * M_PI * t.hz * s); }), 24);
    for (size_t i = 4; i < f.size(); i++)
      ASSERT_TRUE(f[i].*t.driven > 0.9 && f[i].*t.far < 0.1) << t.hz << " Hz " << t.db << " dB, frame " << i;
  }
}

// The same music 30 dB down reads as the loud one (each value reaching full
// at its peaks), its silence 0, and one run is another bit for bit.
TEST(AudioAnalyser, QuietAndLoudSpanTheRangeSilenceIsZeroRunsRepeat) {
  const std::vector<AudioFrame> loud = analyse(music(0), 24), quiet = analyse(music(-30), 24), again = analyse(music(-30), 24);
  ASSERT_EQ(loud.size(), quiet.size());
  ASSERT_EQ(0, memcmp(quiet.data(), again.data(), quiet.size() * sizeof(AudioFrame)));
  for (double AudioFrame::*v : {&AudioFrame::level, &AudioFrame::low, &AudioFrame::mid, &AudioFrame::high}) {
    double top = 0;
    for (size_t i = 0; i < loud.size(); i++) {
      EXPECT_NEAR(quiet[i].*v, loud[i].*v, 0.02) << "frame " << i;
      top = std::max(top, quiet[i].*v);
      EXPECT_TRUE(i < 6 * 24 + 2 || quiet[i].*v == 0) << "silence at frame " << i;
    }
    EXPECT_GT(top, 0.95);
  }
}

// Any format FFmpeg decodes, as stereo at 48 kHz: 2 s of a 1/8 sine at
// 44.1 kHz is 96000 sample pairs (an MP3's padding aside), mono on both
// sides at its own level. Refused in one line naming the file: missing, not
// media, no sound.
TEST(AudioTrack, DecodesSoundRefusesTheRest) {
  kt::TempDir dir;
  const std::string d = dir.path + "/";
  for (const std::string format : {"wav", "mp3", "ogg", "flac"}) {
    ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:d=2:sample_rate=44100 " + d + "t." + format).c_str()));
    AudioTrack t;
    std::string err;
    ASSERT_TRUE(t.load(d + "t." + format, kRate, err)) << err;
    EXPECT_TRUE(t.rate() == kRate && std::abs(t.frames() - 2 * kRate) < 2 * kRate / 100) << format << ": " << t.frames();
    double sum = 0;
    for (int64_t i = 0; i < t.frames(); i++) {
      ASSERT_EQ(t.data()[2 * i], t.data()[2 * i + 1]) << format << ", pair " << i;
      sum += (double)t.data()[2 * i] * t.data()[2 * i];
    }
    EXPECT_NEAR(std::sqrt(sum / t.frames()) / 32768, 0.125 / std::sqrt(2), 0.005) << format;
  }
  ASSERT_TRUE(kt::write_file(d + "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'}));
  ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i color=s=16x16 -frames:v 1 " + d +
                       "still.png -f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 " + d + "mute.mkv").c_str()));
  const struct { std::string file, says; } refused[] = {{d + "missing.wav", "No such file"}, {d + "notes.txt", "FFmpeg"},
                                                       {d + "still.png", "no sound in it"}, {d + "mute.mkv", "no sound in it"}};
  for (const auto &r : refused) {
    AudioTrack t;
    std::string err;
    EXPECT_FALSE(t.load(r.file, kRate, err)) << r.file;
    EXPECT_TRUE(err.rfind(r.file + ": ", 0) == 0 && kt::contains(err, r.says) && err.find('\n') == std::string::npos) << err;
  }
}

// Frame F takes the samples before frame F + 1 from those before F: every
// sample once, in order, `rate` of them each `fps` frames; silence after.
TEST(FileAudio, EverySampleOnceInLockstep) {
  kt::TempDir dir;
  const struct { int fps, file_rate; } rows[] = {{24, kRate}, {25, kRate}, {30, kRate}, {60, kRate}, {24, 44100}};
  for (const auto &p : rows) {
    std::vector<int16_t> pcm(2 * 3 * p.file_rate);
    for (size_t i = 0; i < pcm.size(); i++) pcm[i] = (int16_t)((i / 2) % 30000 - 15000);
    capture::WavWriter w;
    std::string err, file = dir.path + "/ramp" + std::to_string(p.file_rate) + ".wav";
    ASSERT_TRUE(w.open(file, p.file_rate, 2, err) && w.write(pcm.data(), 3 * p.file_rate, err) && w.close(err)) << err;
    AudioTrack t;
    ASSERT_TRUE(t.load(file, kRate, err)) << err;
    ASSERT_EQ(t.frames(), 3 * kRate);
    FileAudio a(t);
    std::vector<float> all;
    for (int f = 0; f < 4 * p.fps; f++) {
      const size_t before = all.size();
      a.take(f, p.fps, all);
      ASSERT_LE(std::abs((int)(all.size() - before) * p.fps - kRate), p.fps) << p.fps << " fps, frame " << f;
      ASSERT_TRUE((f + 1) % p.fps || all.size() == (size_t)kRate * (f + 1) / p.fps) << p.fps << " fps, frame " << f;
    }
    for (int64_t i = 0; i < (int64_t)all.size(); i++) {
      ASSERT_EQ(all[i], i < t.frames() ? t.data()[2 * i] / 32768.0f : 0.0f) << p.fps << " fps, sample " << i;
      ASSERT_TRUE(p.file_rate != kRate || i >= t.frames() || t.data()[2 * i] == i % 30000 - 15000) << i;
    }
  }
}

// With a device the track plays from its start, every sample in order (SDL's
// disk driver writes what it is given to a file); with none the show is told
// why and goes on; one device at a time.
TEST(AudioPlayback, PlaysTheTrackOrSaysWhyNot) {
  kt::TempDir dir;
  const std::string heard = dir.path + "/heard.raw";
  ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=d=0.5 " + dir.path + "/t.wav").c_str()));
  AudioTrack t;
  std::string err;
  ASSERT_TRUE(t.load(dir.path + "/t.wav", kRate, err)) << err;
  setenv("SDL_DISKAUDIOFILE", heard.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // ms a buffer: 20 times faster than the clock
  for (const std::string driver : {"no-such-driver", "dummy", "disk"}) {
    setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
    AudioPlayback p, second;
    err.clear();
    EXPECT_TRUE(p.open(t, err) == (driver != "no-such-driver") && err.empty() == (driver != "no-such-driver")) << driver << ": " << err;
    EXPECT_TRUE(!err.empty() || !second.open(t, err)) << driver << ": a second device at once";
    p.start();
    // A device that takes nothing fails on the time limit.
    for (struct stat st {}; driver == "disk" && (stat(heard.c_str(), &st) || st.st_size < t.frames() * 4 + kRate);) usleep(10000);
    p.stop();
  }
  const std::vector<uint8_t> raw = kt::read_file(heard);
  const int16_t *out = reinterpret_cast<const int16_t *>(raw.data());
  const auto sound_from = [](const int16_t *a, size_t n) { return (std::find_if(a, a + n, [](int16_t v) { return v; }) - a) & ~1; };
  const size_t from = sound_from(out, raw.size() / 2), at = sound_from(t.data(), 2 * t.frames());
  ASSERT_GE(raw.size() / 2 - from, 2 * t.frames() - at) << "the track did not reach the device";
  EXPECT_EQ(0, memcmp(out + from, t.data() + at, (2 * t.frames() - at) * 2));
}
