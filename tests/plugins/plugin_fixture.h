/*  Shared by the plug-in tests: a scratch directory that becomes the
 *  working directory for the life of the object (and is removed after), and
 *  where the built test plug-ins are. */
#ifndef KOLVEX_PLUGIN_FIXTURE_H
#define KOLVEX_PLUGIN_FIXTURE_H

#include <dlfcn.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace pt {

inline std::string fx(const std::string &variant) {
  return std::string(KOLVEX_TEST_FX_DIR) + "/testfx_" + variant + "-darwin.so";
}
inline std::string vertigo() { return KOLVEX_VERTIGO_PATH; }

// Whether the shared object at `path` is still mapped into the process.
inline bool loaded(const std::string &path) {
  void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return false;
  dlclose(h);
  return true;
}

class ScratchDir {
 public:
  ScratchDir() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) saved_ = cwd;
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kolvex-plugins-XXXXXX";
    if (mkdtemp(&pattern[0])) path_ = pattern;
    EXPECT_FALSE(path_.empty());
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~ScratchDir() {
    if (!saved_.empty() && chdir(saved_.c_str()) != 0) perror("chdir");
    if (!path_.empty()) nftw(path_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::string &path() const { return path_; }
  // A directory below the scratch directory; returns its full path.
  std::string mkdir(const std::string &name) const {
    std::string p = path_ + "/" + name;
    EXPECT_EQ(::mkdir(p.c_str(), 0755), 0) << p;
    return p;
  }
  // Copies `from` to `to` (relative to the working directory or absolute).
  static void copy(const std::string &from, const std::string &to) {
    FILE *in = fopen(from.c_str(), "rb");
    ASSERT_NE(in, nullptr) << from;
    FILE *out = fopen(to.c_str(), "wb");
    ASSERT_NE(out, nullptr) << to;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) fwrite(buf, 1, n, out);
    fclose(in);
    fclose(out);
  }
  static void write(const std::string &to, const std::string &text) {
    FILE *out = fopen(to.c_str(), "wb");
    ASSERT_NE(out, nullptr) << to;
    fwrite(text.data(), 1, text.size(), out);
    fclose(out);
  }

 private:
  static int remove_one(const char *p, const struct stat *, int, struct FTW *) {
    return ::remove(p);
  }
  std::string saved_, path_;
};

}  // namespace pt

#endif
