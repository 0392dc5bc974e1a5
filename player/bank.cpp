#include "bank.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "controls.h"
#include "factory.h"
#include "frei0r_host.h"

namespace {

// Sources that load nothing from disk.
bool needs_no_file(const std::string &name) {
  return name.compare(0, 9, "layer_gen") == 0 ||
         name.compare(0, strlen(KOLVEX_FREI0R_PREFIX), KOLVEX_FREI0R_PREFIX) == 0;
}

bool is_file(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool Bank::add(const std::string &path, std::string &err) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) {
    err = "--bank " + path + ": " + strerror(path.empty() ? ENOENT : errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (!is_layer_file(path.c_str())) {
      err = "--bank " + path + ": not a picture or clip the player loads";
      return false;
    }
    given_.push_back(path);
    files_.push_back(path);
    return true;
  }
  DIR *dir = opendir(path.c_str());
  if (!dir) {
    err = "--bank " + path + ": " + strerror(errno);
    return false;
  }
  std::vector<std::string> found;
  const std::string prefix = path.back() == '/' ? path : path + "/";
  while (struct dirent *d = readdir(dir)) {
    const std::string file = prefix + d->d_name;
    if (d->d_name[0] != '.' && is_layer_file(d->d_name) && is_file(file)) found.push_back(file);
  }
  closedir(dir);
  if (found.empty()) {
    err = "--bank " + path + ": no picture or clip the player loads in it";
    return false;
  }
  std::sort(found.begin(), found.end());  // the same order on every run
  given_.push_back(path);
  files_.insert(files_.end(), found.begin(), found.end());
  return true;
}

bool Bank::find(const std::string &name, std::string &source, std::string &why) const {
  if (needs_no_file(name)) {
    source = name;
    return true;
  }
  for (const std::string &file : files_)
    if (file == name) return source = file, true;
  for (const std::string &file : files_)
    if (layer_name(file) == name) return source = file, true;
  why = name + ": not in the bank (--bank names what a show may load)";
  return false;
}
