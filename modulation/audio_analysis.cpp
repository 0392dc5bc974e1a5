#include "audio_analysis.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}
#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace {

constexpr uint_t kHop = 512;           // aubio's tempo step: ~11 ms at 48 kHz
constexpr uint_t kOnsetHop = 256;      // onsets twice as often: told sooner
constexpr unsigned kOnsetLate = 8;     // steps aubio may take to find an onset
constexpr uint_t kWindow = 1024;       // aubio's analysis window
constexpr size_t kOnsetsKept = 8;      // onsets a new one is paired with
constexpr size_t kIntervalsKept = 16;  // the tempo's fine measure: beat intervals
constexpr int kFft = 2048;             // the bands' window: a frame and a bit at 48 kHz
constexpr double kLowTop = 200, kMidTop = 2000;  // Hz
constexpr double kGate = 1e-3;                   // -60 dBFS (RMS): silence below
constexpr double kBandFloor = 1e-2;  // a band reads full at 40 dB under the level's peak
constexpr double kPeakHalfLife = 3.0;    // s: a peak falls 6 dB in this
constexpr double kOnsetHalfLife = 0.08;  // s

// A value over a peak that follows it up at once and falls slowly.
struct Gain {
  double peak = 0;
  // `fall` per frame; the peak never under `floor`.
  double apply(double raw, double fall, double floor) {
    peak = std::max({raw, peak * fall, floor});
    return raw < kGate ? 0.0 : raw / peak;
  }
};

double rms(const float *x, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; i++) sum += (double)x[i] * x[i];
  return std::sqrt(sum / n);
}

struct TxFree {
  void operator()(AVTXContext *t) const { av_tx_uninit(&t); }
};
struct AvFree {
  void operator()(void *p) const { av_free(p); }
};

}  // namespace

struct AudioAnalyser::State {
  int rate;
  // aubio
  aubio_onset_t *onset = nullptr;
  aubio_tempo_t *tempo = nullptr;
  fvec_t *hop = nullptr, *onset_out = nullptr, *tempo_out = nullptr;
  uint_t filled = 0;      // samples in `hop`
  uint_t last_beat = 0;   // aubio's position of the last beat told
  int64_t hops = 0, sound_hop = -1;  // hops run, the last with sound above the gate
  std::deque<uint_t> onsets;          // aubio's places of the latest onsets
  std::deque<std::pair<double, int>> intervals;  // samples between onsets, beats in them
  // the bands' FFT over the latest kFft samples
  std::unique_ptr<AVTXContext, TxFree> tx;
  av_tx_fn fft = nullptr;
  std::unique_ptr<float, AvFree> in, out;  // out: kFft / 2 + 1 complex
  std::vector<float> ring, window;
  size_t ring_pos = 0;
  double window_power = 0;  // sum of the window's squares
  int bins[3] = {0, 0, 0};  // first bin of mid, of high, one past the last
  // per frame
  Gain level, low, mid, high;
  double fall = 1, onset_fall = 1;
  double onset_value = 0, bpm = 0;
  int64_t since_beat = -1;
  unsigned steps_quiet = ~0u / 2;  // onset steps since one above the gate  // samples from the last beat's frame to this one's start
  AudioFrame held;

  State(int r, int fps) : rate(r) {
    onset = new_aubio_onset("default", kWindow, kOnsetHop, (uint_t)rate);
    tempo = new_aubio_tempo("default", kWindow, kHop, (uint_t)rate);
    // aubio drops an onset when the step it is found in is silent, and it
    // is found a few steps late: a click shorter than that, in digital
    // silence (a click track, a drum machine), would never count. The gate
    // is ours instead (onset_hop).
    if (onset) aubio_onset_set_silence(onset, -INFINITY);
    if (tempo) aubio_tempo_set_silence(tempo, -INFINITY);
    hop = new_fvec(kHop);
    onset_out = new_fvec(1);
    tempo_out = new_fvec(2);
    AVTXContext *t = nullptr;
    const float scale = 1.0f;
    if (av_tx_init(&t, &fft, AV_TX_FLOAT_RDFT, 0, kFft, &scale, 0) == 0) tx.reset(t);
    in.reset(static_cast<float *>(av_malloc(sizeof(float) * kFft)));
    out.reset(static_cast<float *>(av_malloc(sizeof(float) * (kFft + 2))));
    ring.assign(kFft, 0.0f);
    window.resize(kFft);
    for (int i = 0; i < kFft; i++) {
      window[i] = (float)(0.5 - 0.5 * std::cos(2 * M_PI * i / kFft));
      window_power += (double)window[i] * window[i];
    }
    const double hz_per_bin = (double)rate / kFft;
    bins[0] = (int)std::lround(kLowTop / hz_per_bin);
    bins[1] = (int)std::lround(kMidTop / hz_per_bin);
    bins[2] = kFft / 2;  // FFmpeg 5.1 leaves the Nyquist bin's imaginary part unwritten
    const double frame_s = 1.0 / fps;
    fall = std::pow(0.5, frame_s / kPeakHalfLife);
    onset_fall = std::pow(0.5, frame_s / kOnsetHalfLife);
  }
  ~State() {
    if (onset) del_aubio_onset(onset);
    if (tempo) del_aubio_tempo(tempo);
    if (hop) del_fvec(hop);
    if (onset_out) del_fvec(onset_out);
    if (tempo_out) del_fvec(tempo_out);
  }
  bool ok() const { return onset && tempo && hop && onset_out && tempo_out && tx && in && out; }

  // One step through aubio's tempo: whether a beat fell in it. aubio puts
  // the beat's place within the step in out[0], which is 0 for a beat on
  // the step's start too: a new last beat tells it instead. Beats go on
  // between the clicks of a sparse rhythm, not after a second of silence.
  bool tempo_hop() {
    aubio_tempo_do(tempo, hop, tempo_out);
    if (rms(hop->data, kHop) >= kGate) sound_hop = hops;
    hops++;
    const uint_t last = aubio_tempo_get_last(tempo);
    const bool beat = last != last_beat && sound_hop >= 0 && (hops - sound_hop) * kHop < (uint_t)rate;
    last_beat = last;
    bpm = fine_bpm();
    return beat;
  }

  // aubio's tempo is a whole number of its steps a beat, up to 1% off. The
  // onsets one or two of its beats apart measure the beat to the sample;
  // off-beats and fills between are left out.
  void time_onset(uint_t at) {
    const double guess = aubio_tempo_get_bpm(tempo);
    if (guess > 0) {
      const double period = 60.0 * rate / guess;
      for (int n = 1; n <= 2; n++) {
        auto it = std::find_if(onsets.rbegin(), onsets.rend(), [&](uint_t o) {
          return std::fabs((at - o) / (n * period) - 1) < 0.08;
        });
        if (it == onsets.rend()) continue;
        intervals.emplace_back((double)(at - *it), n);
        if (intervals.size() > kIntervalsKept) intervals.pop_front();
        break;
      }
    }
    onsets.push_back(at);
    if (onsets.size() > kOnsetsKept) onsets.pop_front();
  }

  // The measured tempo when it agrees with aubio's within 3%, else aubio's
  // (a change of tempo, until the intervals have caught up).
  double fine_bpm() const {
    const double guess = aubio_tempo_get_bpm(tempo);
    if (guess <= 0) return bpm;
    double samples = 0;
    int beats = 0;
    for (const auto &i : intervals) {
      samples += i.first;
      beats += i.second;
    }
    if (intervals.size() < 4) return guess;
    const double measured = 60.0 * rate * beats / samples;
    return std::fabs(measured / guess - 1) < 0.03 ? measured : guess;
  }

  // An onset counts when there was sound above the gate within the steps
  // aubio needs to find it.
  void onset_hop(const float *samples, bool &onset_seen) {
    fvec_t view{kOnsetHop, const_cast<smpl_t *>(samples)};
    double power = 0;
    for (uint_t i = 0; i < kOnsetHop; i++) power += (double)samples[i] * samples[i];
    steps_quiet = power / kOnsetHop > kGate * kGate ? 0 : steps_quiet + 1;
    aubio_onset_do(onset, &view, onset_out);
    if (onset_out->data[0] != 0 && steps_quiet <= kOnsetLate) {
      onset_seen = true;
      time_onset(aubio_onset_get_last(onset));
    }
  }

  void feed(const float *mono, size_t n, bool &onset_seen, bool &beat_seen) {
    for (size_t i = 0; i < n; i++) {
      ring[ring_pos] = mono[i];
      ring_pos = (ring_pos + 1) % kFft;
      hop->data[filled++] = mono[i];
      if (filled % kOnsetHop == 0) onset_hop(hop->data + filled - kOnsetHop, onset_seen);
      if (filled == kHop) {
        beat_seen |= tempo_hop();
        filled = 0;
      }
    }
  }

  // RMS of the part of the spectrum in [from, to), as the signal's RMS.
  double band(int from, int to) const {
    const float *c = out.get();
    double sum = 0;
    for (int k = from; k < to; k++) sum += (double)c[2 * k] * c[2 * k] + (double)c[2 * k + 1] * c[2 * k + 1];
    return std::sqrt(2 * sum / (kFft * window_power));
  }

  void bands(double &l, double &m, double &h) {
    float *x = in.get();
    for (int i = 0; i < kFft; i++) x[i] = ring[(ring_pos + i) % kFft] * window[i];
    fft(tx.get(), out.get(), x, sizeof(float));
    l = band(1, bins[0]);  // not the DC
    m = band(bins[0], bins[1]);
    h = band(bins[1], bins[2]);
  }
};

AudioAnalyser::AudioAnalyser(int rate, int fps)
    : s_(std::make_unique<State>(rate > 0 ? rate : 48000, fps > 0 ? fps : 25)) {}

AudioAnalyser::~AudioAnalyser() = default;

AudioFrame AudioAnalyser::analyse(const float *mono, size_t n) {
  State &s = *s_;
  AudioFrame f = s.held;
  s.onset_value *= s.onset_fall;
  f.beat = 0;
  if (!s.ok() || n == 0) {  // nothing new: the values held, the onset fading
    f.onset = s.onset_value;
    s.held = f;
    return f;
  }
  bool onset_seen = false, beat_seen = false;
  s.feed(mono, n, onset_seen, beat_seen);

  f.level = s.level.apply(rms(mono, n), s.fall, kGate);
  double l, m, h;
  s.bands(l, m, h);
  const double band_floor = std::max(kGate, s.level.peak * kBandFloor);
  f.low = s.low.apply(l, s.fall, band_floor);
  f.mid = s.mid.apply(m, s.fall, band_floor);
  f.high = s.high.apply(h, s.fall, band_floor);

  if (onset_seen) s.onset_value = 1;
  f.onset = s.onset_value;
  f.bpm = s.bpm;
  if (beat_seen) {
    f.beat = 1;
    f.phase = 0;
    s.since_beat = 0;
  } else if (s.since_beat >= 0 && s.bpm > 0) {
    // Through the beat by the tempo; a late beat holds it just under 1.
    f.phase = std::min(s.since_beat * s.bpm / (60.0 * s.rate), 0.999);
  }
  if (s.since_beat >= 0) s.since_beat += (int64_t)n;
  s.held = f;
  return f;
}
