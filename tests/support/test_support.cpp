#include "test_support.h"

#include <png.h>

#include <filesystem>

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace kt {

StderrCapture::StderrCapture() {
  fflush(stderr);
  file_ = tmpfile();
  saved_fd_ = dup(2);
  dup2(fileno(file_), 2);
}

std::string StderrCapture::text() {
  if (done_) return text_;
  done_ = true;
  fflush(stderr);
  dup2(saved_fd_, 2);
  ::close(saved_fd_);
  rewind(file_);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file_)) > 0) text_.append(buf, n);
  fclose(file_);
  return text_;
}

bool contains(const std::string &haystack, const std::string &needle) {
  return haystack.find(needle) != std::string::npos;
}

int count_lines(const std::string &text, const std::string &line) {
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, line) == 0) count++;
    start = end + 1;
  }
  return count;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t s = seed ? seed : 0x9E3779B9u;
  for (size_t i = 0; i < n; i++) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    out[i] = (uint8_t)(s >> 24);
  }
  return out;
}

uint64_t fnv1a(const void *data, size_t n) {
  const uint8_t *p = (const uint8_t *)data;
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; i++) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string output_of(const std::string &command) {
  std::string text;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return text;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  pclose(p);
  return text;
}

std::vector<std::string> y4m_frames(const std::string &path) {
  const std::vector<uint8_t> bytes = read_file(path);
  const std::string s(bytes.begin(), bytes.end());
  std::vector<std::string> frames;
  for (size_t at = s.find("FRAME\n"); at != std::string::npos;) {
    const size_t next = s.find("FRAME\n", at + 6);
    frames.push_back(s.substr(at + 6, next == std::string::npos ? std::string::npos : next - at - 6));
    at = next;
  }
  return frames;
}

double psnr(const std::string &a, const std::string &b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) {
    const double d = (double)(uint8_t)a[i] - (double)(uint8_t)b[i];
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / (double)a.size()));
}

Engine::Engine(int w, int h) {
  StderrCapture swallow;
  ok = ctx.init(w, h);
  screen = static_cast<SdlScreen *>(ctx.screen.get());
}

bool TestLayer::init(Context *ctx) {
  _init(ctx, req_w, req_h, 32);
  frame.assign(geo.size, 0);
  return true;
}

void *TestLayer::feed() {
  int delay = feed_delay_ms.load();
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  feeds++;
  return frame.data();
}

void TestLayer::fill(uint32_t memory_word) {
  for (size_t i = 0; i + 4 <= frame.size(); i += 4) memcpy(&frame[i], &memory_word, 4);
}

uint8_t *screen_pixel(Context &ctx, int x, int y) {
  return (uint8_t *)ctx.screen->get_surface() + (long)y * ctx.screen->pitch + (long)x * 4;
}

GuardedSurface::GuardedSurface(SdlScreen &screen, uint32_t amask, int padding)
    : screen_(screen), saved_(screen.draw_surface), saved_pitch_(screen.pitch) {
  const int pitch = screen.w * 4 + padding;
  store_.assign(2 * kPad + (size_t)pitch * screen.h, 0xA5);
  surface_ = SDL_CreateRGBSurfaceFrom(pixels(), screen.w, screen.h, 32, pitch, screen.rmask,
                                      screen.gmask, screen.bmask, amask);
  if (surface_) {
    screen.draw_surface = surface_;
    screen.pitch = pitch;
  }
}

GuardedSurface::~GuardedSurface() {
  screen_.draw_surface = saved_;
  screen_.pitch = saved_pitch_;
  if (surface_) SDL_FreeSurface(surface_);
}

long GuardedSurface::damaged() const {
  for (size_t i = 0; i < kPad; i++) {
    if (store_[i] != 0xA5) return (long)i - (long)kPad;
    if (store_[kPad + bytes() + i] != 0xA5) return (long)(bytes() + i);
  }
  return 0;
}

static uint32_t word_of(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
}

std::string check_blit(const uint8_t *before, const uint8_t *after, int sw, int sh,
                       const uint8_t *frame, int w, int h, int x, int y, int mode, int alpha,
                       bool opaque) {
  const bool draws = mode >= BLIT_RGB && mode <= BLIT_ALPHA && x < sw && x + w > 0;
  for (int py = 0; py < sh; py++) {
    const size_t line = (size_t)py * sw * 4;
    int x0 = sw, x1 = sw;  // the columns drawn on this line
    if (draws && py >= y && py < y + h) x0 = std::max(x, 0), x1 = std::min(x + w, sw);
    // Pixel by pixel where something is drawn, and where anything else changed.
    const bool rest_kept = !memcmp(before + line, after + line, x0 * 4) &&
                           !memcmp(before + line + x1 * 4, after + line + x1 * 4, (sw - x1) * 4);
    for (int px = rest_kept ? x0 : 0; px < (rest_kept ? x1 : sw); px++) {
      const uint8_t *was = before + line + px * 4, *got = after + line + px * 4;
      uint8_t want[4] = {was[0], was[1], was[2], was[3]};
      if (px >= x0 && px < x1) {
        const uint8_t *s = frame + ((size_t)(py - y) * w + (px - x)) * 4;
        const uint32_t sum =
            mode == BLIT_ADD ? word_of(was) + word_of(s) : word_of(was) - word_of(s);
        for (int i = 0; i < 4; i++) {
          if (mode == BLIT_RGB) want[i] = i == 3 && opaque ? 0xFF : s[i];
          if (mode >= BLIT_BLU && mode <= BLIT_RED && i == mode - BLIT_BLU) want[i] = s[i];
          if (mode == BLIT_ADD || mode == BLIT_SUB) want[i] = (uint8_t)(sum >> (24 - 8 * i));
          if (mode == BLIT_AND) want[i] &= s[i];
          if (mode == BLIT_OR) want[i] |= s[i];
          if (mode == BLIT_ALPHA)
            want[i] = i == 3 ? got[3] : (alpha * s[i] + (255 - alpha) * was[i]) / 255;
        }
      }
      for (int i = 0; i < 4; i++)
        if (abs(got[i] - want[i]) > (mode == BLIT_ALPHA && px >= x0 && px < x1 ? 2 : 0)) {
          char text[160];
          snprintf(text, sizeof text,
                   "mode %d alpha %d, %dx%d at %d,%d: pixel %d,%d byte %d is %02x, not %02x", mode,
                   alpha, w, h, x, y, px, py, i, got[i], want[i]);
          return text;
        }
    }
  }
  return "";
}

// Straight system calls: capabilities are per thread, and libcap is no
// dependency of the tests.
FilePermissionsApply::FilePermissionsApply() {
  const uint32_t overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  if (!(data[0].effective & overrides)) {  // nothing overrides them
    enforced = true;
    return;
  }
  data[0].effective &= ~overrides;
  dropped_ = enforced = syscall(SYS_capset, &header, data) == 0;
}

FilePermissionsApply::~FilePermissionsApply() {
  if (!dropped_) return;
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  syscall(SYS_capset, &header, data);
}

}  // namespace kt

namespace kt {

bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/kolvex-test-XXXXXX";
  if (mkdtemp(tmpl)) path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

}  // namespace kt

namespace kt {

Picture read_png(const std::string &path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) return Picture();
  p.w = (int)image.width;
  p.h = (int)image.height;
  return p;
}

std::vector<uint8_t> screen_bytes(ViewPort &screen) {
  std::vector<uint8_t> bytes;
  screen.lock();
  for (int y = 0; y < screen.h; y++) {
    const uint8_t *line = (const uint8_t *)screen.get_surface() + (size_t)y * screen.pitch;
    bytes.insert(bytes.end(), line, line + (size_t)screen.w * 4);
  }
  screen.unlock();
  return bytes;
}

}  // namespace kt

namespace kt {

std::string without_sanitizer_notes(const std::string &text) {
  const std::string mark = std::string(53, '-') + "\nSuppressions used:";
  const size_t at = text.find(mark);
  if (at == std::string::npos) return text;
  const size_t end = text.find(std::string(53, '-') + "\n", at + mark.size());
  std::string rest = end == std::string::npos ? "" : text.substr(end + 54);
  if (!rest.empty() && rest[0] == '\n') rest.erase(0, 1);
  return text.substr(0, at) + rest;
}

int bound_socket(int type, int &port) {
  const int fd = socket(AF_INET, type, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, (sockaddr *)&a, sizeof a) != 0 ||
      getsockname(fd, (sockaddr *)&a, &len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace kt
