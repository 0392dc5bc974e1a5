#include "jutils.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "clock.h"

// ---------------------------------------------------------------------------
// Log state
// ---------------------------------------------------------------------------
// Read by layer threads while the main thread may set it.
static std::atomic<int> verbosity{0};
static char msg[256];
static char *osd_msg = nullptr;
// Layer threads log too: one lock keeps format-and-print of a line whole.
static std::mutex log_mutex;
static LogSink log_sink = nullptr;
static void *log_sink_user = nullptr;

// One line out, the log's lock held.
static void emit(int level, const char *prefix, const char *text) {
  if (!log_sink) {
    fprintf(stderr, "%s%s\n", prefix, text);
    return;
  }
  char line[272];
  snprintf(line, sizeof line, "%s%s", prefix, text);
  log_sink(log_sink_user, level, line);
}

#define LOG_BODY(level, prefix)                   \
  do {                                            \
    std::lock_guard<std::mutex> guard(log_mutex); \
    va_list ap;                                   \
    va_start(ap, format);                         \
    vsnprintf(msg, 254, format, ap);              \
    va_end(ap);                                   \
    emit(level, prefix, msg);                     \
  } while (0)

void notice(const char *format, ...) { LOG_BODY(LOG_NOTICE, "[*] "); }
void act(const char *format, ...) { LOG_BODY(LOG_NOTICE, " .  "); }
void error(const char *format, ...) { LOG_BODY(LOG_ERROR, "[!] "); }

void warning(const char *format, ...) {
  if (verbosity > 0) LOG_BODY(LOG_WARNING, "[W] ");
}

void func(const char *format, ...) {
  if (verbosity > 1) LOG_BODY(LOG_DEBUG, "[F] ");
}

void set_log_sink(LogSink sink, void *user) {
  std::lock_guard<std::mutex> guard(log_mutex);
  log_sink = sink;
  log_sink_user = sink ? user : nullptr;
}

// An allocation trace: its own text, so that the last message stays.
static void trace(const char *format, const void *ptr, unsigned long size) {
  char text[96];
  snprintf(text, sizeof text, format, ptr, size);
  std::lock_guard<std::mutex> guard(log_mutex);
  emit(LOG_DEBUG, "[M] ", text);
}

void set_debug(int level) { verbosity = level < 0 ? 0 : level > 2 ? 2 : level; }
int get_debug() { return verbosity; }
const char *last_msg() { return msg; }

void set_osd(char *buf) {
  osd_msg = buf;
  if (osd_msg) osd_msg[0] = '\0';
}

void show_osd() {
  if (!osd_msg) return;  // nothing registered: nowhere to show it
  std::lock_guard<std::mutex> guard(log_mutex);
  // The status line shows the first 49 characters of the message.
  memcpy(osd_msg, msg, 49);
  osd_msg[49] = '\0';
  osd_msg[50] = '\0';
}

void show_osd(const char *format, ...) {
  if (!osd_msg) return;
  va_list ap;
  va_start(ap, format);
  vsnprintf(osd_msg, 49, format, ap);
  va_end(ap);
  osd_msg[50] = '\0';
}

// ---------------------------------------------------------------------------
// Allocation
// ---------------------------------------------------------------------------
void *jalloc(void *ptr, unsigned long size) {
  if (ptr) warning("requested malloc on a non-NULL pointer");
  void *block = malloc(size);
  if (!block) {
    error("cannot allocate %lu bytes of memory", size);
    return nullptr;
  }
  if (verbosity > 1) trace("allocated memory at %p sized %lu bytes", block, size);
  return block;
}

bool jfree(void *ptr) {
  if (!ptr) {
    warning("requested free on a NULL pointer");
    return false;
  }
  if (verbosity > 1) trace("freeing memory at address %p", ptr, 0);
  free(ptr);
  return true;
}

// ---------------------------------------------------------------------------
// Random numbers
// ---------------------------------------------------------------------------
static uint32_t randval = 0;

uint32_t fastrand() { return randval = randval * 1103515245u + 12345u; }
void fastsrand(uint32_t seed) { randval = seed; }

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------
double dtime() {
  struct timeval tv;
  clock_gettime_tv(&tv);
  return (double)tv.tv_sec + (double)tv.tv_usec * 0.000001;
}

uint64_t rdtsc() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return (uint64_t)tv.tv_sec * 1000000u + (uint64_t)tv.tv_usec;
}

void jsleep(int sec, long nsec) {
  struct timespec ts;
  ts.tv_sec = sec;
  ts.tv_nsec = nsec;
  nanosleep(&ts, nullptr);
}

void *jmemset(void *dst, unsigned long value, unsigned long n) {
  return memset(dst, (int)value, n);
}

// ---------------------------------------------------------------------------
// Copy routine
// ---------------------------------------------------------------------------
memcpy_fn jmemcpy = memcpy;

memcpy_method_t memcpy_method[] = {
    {nullptr, nullptr, 0, 0},
    {"glibc memcpy()", memcpy, 0, 0},
    {nullptr, nullptr, 0, 0},
};

uint32_t detect_mm_accel() { return 0; }

void find_best_memcpy() {
  const unsigned long bufsize = 2048000;
  uint32_t accel = detect_mm_accel();

  char *a = (char *)malloc(bufsize);
  if (!a) return;
  char *b = (char *)malloc(bufsize);
  if (!b) {
    free(a);
    return;
  }
  memset(a, 0, bufsize);
  memset(b, 0, bufsize);
  memcpy(a, b, bufsize);  // warm the caches
  memcpy(b, a, bufsize);

  func("Finding best memory copy function");
  int best = 0;
  for (int i = 1; memcpy_method[i].name; i++) {
    memcpy_method_t &m = memcpy_method[i];
    if (m.cpu_require & ~accel) continue;
    uint64_t t0 = rdtsc();
    for (int k = 0; k < 2000; k++) m.function(a + k * 1024, b + k * 1024, 1024);
    uint64_t t1 = rdtsc();
    m.time = t1 - t0;
    func("%s : time %2.2f", m.name, (double)((float)m.time * 0.000001f));
    if (best == 0 || memcpy_method[best].time > m.time) best = i;
  }
  if (best != 0) {
    act("Using memory-to-memory copy method : %s", memcpy_method[best].name);
    jmemcpy = memcpy_method[best].function;
  }
  free(a);
  free(b);
}
