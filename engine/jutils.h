/*  Kolvex - runtime support
 *
 *  Log functions, logged allocation, the fast random generator, wall-clock
 *  time, short sleeps and the bulk copy routine. Everything here is plain
 *  process-wide state: there is no object that owns it.
 */
#ifndef KOLVEX_JUTILS_H
#define KOLVEX_JUTILS_H

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Logging. One line per call on stderr:
//   notice "[*] "   act " .  "   error "[!] "   (always)
//   warning "[W] "  (verbosity >= 1)   func "[F] " (verbosity >= 2)
// A message is cut to 253 characters. warning/func do not even format when
// they would not print, so the last message stays what it was.
// ---------------------------------------------------------------------------
#define KOLVEX_PRINTF(f, a) __attribute__((format(printf, f, a)))

void notice(const char *format, ...) KOLVEX_PRINTF(1, 2);
void act(const char *format, ...) KOLVEX_PRINTF(1, 2);
void error(const char *format, ...) KOLVEX_PRINTF(1, 2);
void warning(const char *format, ...) KOLVEX_PRINTF(1, 2);
void func(const char *format, ...) KOLVEX_PRINTF(1, 2);

void set_debug(int level);  // clamped to 0..2
int get_debug();

// Where the lines go: stderr, unless a program takes them (to show only
// what its user asked for, or to keep them off its progress line). The
// sink gets each whole line with its prefix and without the newline, and
// its level; it is called under the log's lock, from any thread.
enum LogLevel { LOG_ERROR = 0, LOG_NOTICE = 1, LOG_WARNING = 2, LOG_DEBUG = 3 };
typedef void (*LogSink)(void *user, int level, const char *line);
void set_log_sink(LogSink sink, void *user);  // null: stderr again

// Text of the last formatted message (at most 253 characters).
const char *last_msg();

// Status-text hook: the caller's buffer must hold at least 51 bytes.
void set_osd(char *buf);
void show_osd();                                      // last message, 49 chars
void show_osd(const char *format, ...) KOLVEX_PRINTF(1, 2);  // 48 chars

// ---------------------------------------------------------------------------
// Logged allocation. `ptr` is the variable's current value, passed only to
// catch misuse: a non-null one is warned about and a new block allocated
// all the same.
// ---------------------------------------------------------------------------
void *jalloc(void *ptr, unsigned long size);
bool jfree(void *ptr);

// ---------------------------------------------------------------------------
// Random numbers: 32-bit LCG, state * 1103515245 + 12345. Not locked.
// ---------------------------------------------------------------------------
uint32_t fastrand();
void fastsrand(uint32_t seed);

// ---------------------------------------------------------------------------
// Time and memory
// ---------------------------------------------------------------------------
double dtime();                    // wall-clock seconds (through the clock)
uint64_t rdtsc();                  // microseconds since the epoch, 64-bit
void jsleep(int sec, long nsec);   // one nanosleep, not resumed
void *jmemset(void *dst, unsigned long value, unsigned long n);

typedef void *(*memcpy_fn)(void *dst, const void *src, size_t n);
extern memcpy_fn jmemcpy;          // starts as the system memcpy

uint32_t detect_mm_accel();        // processor feature mask; 0 here
void find_best_memcpy();           // benchmark the candidates, set jmemcpy

struct memcpy_method_t {
  const char *name;      // null ends the table
  memcpy_fn function;
  uint64_t time;         // measured microseconds
  uint32_t cpu_require;  // feature bits needed; 0 = none
};
// Row 0 is empty (it stands for "nothing chosen"), candidates from row 1,
// a row without a name ends the table.
extern memcpy_method_t memcpy_method[];

#endif
