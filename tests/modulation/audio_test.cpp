// The sound a show is driven by: what the analysis reads in it frame by
// frame, and sound files decoded, taken in lockstep with the frames, played.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio_analysis.h"
#include "audio_file.h"
#include "test_support.h"
#include "virtual_clock.h"
#include "wav_writer.h"

namespace {

constexpr int kRate = 48000;

// The frames' values for a signal cut into frames as a show cuts it.
std::vector<AudioFrame> analyse(const std::vector<float> &s, int fps) {
  AudioAnalyser a(kRate, fps);
  std::vector<AudioFrame> out;
  for (int64_t f = 0;; f++) {
    const int64_t from = capture::samples_before(f, kRate, fps);
    const int64_t to = std::min<int64_t>(capture::samples_before(f + 1, kRate, fps), s.size());
    if (from >= to) return out;
    out.push_back(a.analyse(s.data() + from, to - from));
  }
}

// A 30 ms decaying 1 kHz click on every beat, silence between.
std::vector<float> clicks(double bpm, double seconds, double amp = 0.5) {
  std::vector<float> s((size_t)(seconds * kRate));
  for (double t = 0.25; t < seconds; t += 60 / bpm)
    for (int i = 0; i < kRate * 3 / 100 && t * kRate + i < s.size(); i++)
      s[(size_t)(t * kRate) + i] = amp * std::exp(-i / 300.0) * std::sin(2 * M_PI * 1000 * i / kRate);
  return s;
}

// Music of a sort: a bass, a chord and a hi-hat whose loudness changes
// bar by bar, then two seconds of silence.
std::vector<float> music(double gain_db) {
  std::vector<float> s(8 * kRate);
  const double g = std::pow(10, gain_db / 20);
  uint32_t noise = 1;
  for (int i = 0; i < 6 * kRate; i++) {
    const double t = (double)i / kRate, bar = 0.4 + 0.6 * std::fabs(std::sin(t * 1.3));
    noise = noise * 1664525u + 1013904223u;
    const double hat = std::fmod(t, 0.25) < 0.03 ? ((noise >> 16) / 32768.0 - 1) * 0.3 : 0;
    s[i] = g * bar * (0.4 * std::sin(2 * M_PI * 70 * t) + 0.2 * std::sin(2 * M_PI * 440 * t) +
                      0.15 * std::sin(2 * M_PI * 660 * t) + hat);
  }
  return s;
}

std::vector<float> sine(double hz, double db, double seconds) {
  std::vector<float> s((size_t)(seconds * kRate));
  for (size_t i = 0; i < s.size(); i++) s[i] = std::pow(10, db / 20) * std::sin(2 * M_PI * hz * i / kRate);
  return s;
}

}  // namespace

// Beats flagged within a frame of each click once the tempo is found, the
// tempo within 1 BPM after 8 s, an onset on each click's frame (at most a
// 24 fps frame late at higher rates), the phase rising through the beat.
struct Click { double bpm; int fps; };
class ClickTrack : public ::testing::TestWithParam<Click> {};
TEST_P(ClickTrack, BeatsOnsetsTempoAndPhase) {
  const Click c = GetParam();
  const std::vector<AudioFrame> f = analyse(clicks(c.bpm, 10), c.fps);
  const int n = (int)f.size(), found = 4 * c.fps, late = (c.fps + 23) / 24;
  std::vector<int> truth;  // the clicks' frames
  for (double t = 0.25; t < 10; t += 60 / c.bpm) truth.push_back((int)(t * c.fps));
  auto click_near = [&](int i, int before, int after) {
    return std::any_of(truth.begin(), truth.end(), [&](int k) { return i >= k - before && i <= k + after; });
  };
  auto flagged = [&](int k, int before, int after, double AudioFrame::*v) {
    for (int i = std::max(0, k - before); i <= k + after && i < n; i++) {
      if (f[i].*v == 1) return true;
    }
    return false;
  };
  for (int i = 0; i < n; i++) {
    EXPECT_TRUE(f[i].onset < 1 || click_near(i, 0, late)) << "stray onset at frame " << i;
    EXPECT_TRUE(f[i].beat == 0 || i < found || click_near(i, 1, 1)) << "stray beat at frame " << i;
    EXPECT_TRUE(i < 8 * c.fps || std::fabs(f[i].bpm - c.bpm) <= 1) << f[i].bpm << " BPM at frame " << i;
    EXPECT_TRUE(f[i].beat == 0 || f[i].phase == 0) << i;
    EXPECT_TRUE(i < found || i + 1 == n || f[i + 1].beat == 0 || f[i].phase > 0.75) << i;
  }
  for (int k : truth) {
    EXPECT_TRUE(flagged(k, 0, late, &AudioFrame::onset)) << "no onset for frame " << k;
    EXPECT_TRUE(k < found || flagged(k, 1, 1, &AudioFrame::beat)) << "no beat by frame " << k;
  }
}
INSTANTIATE_TEST_SUITE_P(Tempos, ClickTrack,
                         ::testing::Values(Click{90, 24}, Click{120, 24}, Click{128, 24},
                                           Click{140, 24}, Click{120, 25}, Click{128, 60}),
                         [](const ::testing::TestParamInfo<Click> &i) {
                           return std::to_string((int)i.param.bpm) + "bpm_" + std::to_string(i.param.fps) + "fps";
                         });

// A steady sine drives its own band to full and leaves the far one near 0,
// loud or quiet.
struct Tone { double hz, db; double AudioFrame::*driven, AudioFrame::*far; };
class Bands : public ::testing::TestWithParam<Tone> {};
TEST_P(Bands, SineDrivesItsBand) {
  const Tone t = GetParam();
  const std::vector<AudioFrame> f = analyse(sine(t.hz, t.db, 2), 24);
  for (size_t i = 4; i < f.size(); i++) {
    EXPECT_GT(f[i].*t.driven, 0.9) << "frame " << i;
    EXPECT_LT(f[i].*t.far, 0.1) << "frame " << i;
  }
}
INSTANTIATE_TEST_SUITE_P(Tones, Bands,
                         ::testing::Values(Tone{60, 0, &AudioFrame::low, &AudioFrame::high},
                                           Tone{60, -30, &AudioFrame::low, &AudioFrame::high},
                                           Tone{800, -10, &AudioFrame::mid, &AudioFrame::low},
                                           Tone{5000, 0, &AudioFrame::high, &AudioFrame::low},
                                           Tone{5000, -30, &AudioFrame::high, &AudioFrame::low}),
                         [](const ::testing::TestParamInfo<Tone> &i) {
                           return std::to_string((int)i.param.hz) + "Hz_at_" + std::to_string((int)-i.param.db) + "dB_down";
                         });

// The same music 30 dB down reads as the loud one (each value reaching
// full at its peaks), its silence 0, and one run is another bit for bit.
TEST(AudioAnalyser, QuietAndLoudSpanTheRangeSilenceIsZeroRunsRepeat) {
  const std::vector<AudioFrame> loud = analyse(music(0), 24), quiet = analyse(music(-30), 24),
                                again = analyse(music(-30), 24);
  ASSERT_EQ(loud.size(), quiet.size());
  ASSERT_EQ(0, memcmp(quiet.data(), again.data(), quiet.size() * sizeof(AudioFrame)));
  for (double AudioFrame::*v : {&AudioFrame::level, &AudioFrame::low, &AudioFrame::mid, &AudioFrame::high}) {
    double top = 0;
    for (size_t i = 0; i < loud.size(); i++) {
      EXPECT_NEAR(quiet[i].*v, loud[i].*v, 0.02) << "frame " << i;
      if (i < 6 * 24) top = std::max(top, quiet[i].*v);
      EXPECT_TRUE(i < 6 * 24 + 2 || quiet[i].*v == 0) << "silence at frame " << i;
    }
    EXPECT_GT(top, 0.95);
  }
}

// An onset halves every 80 ms at any frame rate.
TEST(AudioAnalyser, OnsetFadesByTimeNotFrames) {
  for (int fps : {24, 30, 60}) {
    const std::vector<AudioFrame> f = analyse(clicks(30, 1.5), fps);
    const int on = (int)(std::find_if(f.begin(), f.end(), [](const AudioFrame &a) { return a.onset == 1; }) - f.begin());
    ASSERT_LT(on + fps / 4, (int)f.size()) << fps << " fps: no onset";
    EXPECT_NEAR(f[on + fps / 4].onset, std::pow(0.5, (fps / 4) / (0.08 * fps)), 0.02) << fps << " fps";
  }
}

// Any format FFmpeg decodes, as stereo at 48 kHz: 2 s of a 1/8 sine at
// 44.1 kHz is 96000 sample pairs (an MP3's padding aside), its RMS kept.
class TrackFile : public ::testing::TestWithParam<const char *> {};
TEST_P(TrackFile, DecodesToStereoAtTheRate) {
  kt::TempDir dir;
  const std::string file = dir.path + "/tone." + GetParam();
  ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=f=440:d=2:sample_rate=44100 " + file).c_str()));
  AudioTrack t;
  std::string err;
  ASSERT_TRUE(t.load(file, kRate, err)) << err;
  EXPECT_EQ(t.rate(), kRate);
  EXPECT_NEAR(t.frames(), 2 * kRate, 2 * kRate / 100);
  double sum = 0;
  for (int64_t i = 0; i < t.frames(); i++) {
    ASSERT_EQ(t.data()[2 * i], t.data()[2 * i + 1]) << "pair " << i;
    sum += (double)t.data()[2 * i] * t.data()[2 * i];
  }
  EXPECT_NEAR(std::sqrt(sum / t.frames()) / 32768, 0.125 / std::sqrt(2), 0.005);
}
INSTANTIATE_TEST_SUITE_P(Formats, TrackFile, ::testing::Values("wav", "mp3", "ogg", "flac"));

// Refused in one line naming the file: missing, not media, no sound.
TEST(AudioTrack, RefusesWhatHasNoSound) {
  kt::TempDir dir;
  const std::string d = dir.path + "/";
  ASSERT_TRUE(kt::write_file(d + "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'}));
  ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i color=s=16x16 -frames:v 1 " + d +
                       "still.png -f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 " + d + "mute.mkv").c_str()));
  const struct { std::string file, says; } rows[] = {
      {d + "missing.wav", "No such file"}, {d + "notes.txt", "FFmpeg"},
      {d + "still.png", "no sound in it"}, {d + "mute.mkv", "no sound in it"}};
  for (const auto &r : rows) {
    AudioTrack t;
    std::string err;
    EXPECT_FALSE(t.load(r.file, kRate, err)) << r.file;
    EXPECT_EQ(err.rfind(r.file + ": ", 0), 0u) << err;
    EXPECT_TRUE(kt::contains(err, r.says) && err.find('\n') == std::string::npos) << err;
  }
}

// Frame F takes the samples before frame F + 1 from those before F: every
// sample once, in order, `rate` of them each `fps` frames; silence after.
struct Lockstep { int fps, file_rate; };
class FileAudioLockstep : public ::testing::TestWithParam<Lockstep> {};
TEST_P(FileAudioLockstep, EverySampleOnce) {
  const Lockstep p = GetParam();
  kt::TempDir dir;
  std::vector<int16_t> pcm(2 * 3 * p.file_rate);
  for (size_t i = 0; i < pcm.size(); i++) pcm[i] = (int16_t)((i / 2) % 30000 - 15000);
  capture::WavWriter w;
  std::string err;
  ASSERT_TRUE(w.open(dir.path + "/ramp.wav", p.file_rate, 2, err) && w.write(pcm.data(), 3 * p.file_rate, err) && w.close(err)) << err;
  AudioTrack t;
  ASSERT_TRUE(t.load(dir.path + "/ramp.wav", kRate, err)) << err;
  FileAudio a(t);
  std::vector<float> all, one;
  for (int f = 0; f < 4 * p.fps; f++) {
    one.clear();
    a.take(f, p.fps, one);
    EXPECT_LE(std::abs((int)one.size() * p.fps - kRate), p.fps) << "frame " << f;
    all.insert(all.end(), one.begin(), one.end());
    ASSERT_TRUE((f + 1) % p.fps || all.size() == (size_t)kRate * (f + 1) / p.fps) << "frame " << f;
  }
  ASSERT_EQ(t.frames(), 3 * kRate);
  for (int64_t i = 0; i < (int64_t)all.size(); i++) {
    const float want = i < t.frames() ? t.data()[2 * i] / 32768.0f : 0.0f;
    ASSERT_EQ(all[i], want) << "sample " << i;
    ASSERT_TRUE(p.file_rate != kRate || i >= t.frames() || t.data()[2 * i] == i % 30000 - 15000) << i;
  }
}
INSTANTIATE_TEST_SUITE_P(Rates, FileAudioLockstep,
                         ::testing::Values(Lockstep{24, kRate}, Lockstep{25, kRate}, Lockstep{30, kRate},
                                           Lockstep{60, kRate}, Lockstep{24, 44100}),
                         [](const ::testing::TestParamInfo<Lockstep> &i) {
                           return std::to_string(i.param.fps) + "fps_from_" + std::to_string(i.param.file_rate);
                         });

// With a device the track plays from its start, every sample in order (SDL's
// disk driver writes what it is given to a file); with none the show is
// told why and goes on; one device at a time.
TEST(AudioPlayback, PlaysTheTrackOrSaysWhyNot) {
  kt::TempDir dir;
  const std::string heard = dir.path + "/heard.raw";
  ASSERT_EQ(0, system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=d=0.5 " + dir.path + "/t.wav").c_str()));
  AudioTrack t;
  std::string err;
  ASSERT_TRUE(t.load(dir.path + "/t.wav", kRate, err)) << err;
  setenv("SDL_DISKAUDIOFILE", heard.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // ms a buffer: 20 times faster than the clock
  for (const char *driver : {"no-such-driver", "dummy", "disk"}) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    const bool device = std::string(driver) != "no-such-driver", disk = std::string(driver) == "disk";
    AudioPlayback p, second;
    err.clear();
    EXPECT_EQ(p.open(t, err), device) << driver << ": " << err;
    EXPECT_EQ(err.empty(), device) << err;
    EXPECT_FALSE(device && second.open(t, err)) << driver << ": a second device at once";
    p.start();
    struct stat st {};
    for (int i = 0; i < 500 && disk && (stat(heard.c_str(), &st) || st.st_size < t.frames() * 4 + kRate); i++) usleep(10000);
    p.stop();
  }
  const std::vector<uint8_t> raw = kt::read_file(heard);
  std::vector<int16_t> out(raw.size() / 2);
  memcpy(out.data(), raw.data(), out.size() * 2);
  const auto first = [](const int16_t *a, size_t n) { return std::find_if(a, a + n, [](int16_t v) { return v != 0; }) - a; };
  const size_t from = first(out.data(), out.size()) & ~1u, at = first(t.data(), 2 * t.frames()) & ~1u;
  ASSERT_GE(out.size() - from, 2 * t.frames() - at) << "the track did not reach the device";
  EXPECT_EQ(0, memcmp(out.data() + from, t.data() + at, (2 * t.frames() - at) * 2));
}
