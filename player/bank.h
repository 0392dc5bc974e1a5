/*  kolvex - the bank: what a show may load while it plays
 *
 *  --bank PATH names a file, or a folder whose files the layer factory
 *  makes layers of by their names (PNG pictures, clips by their suffix;
 *  the folder itself, not below it). A name given during the show (OSC, a
 *  key, a replay) is looked up here and nowhere else: by the file's name
 *  without directories (layer_name, as the control tree names layers) or
 *  by its path as given to --bank. "layer_gen" and frei0r sources
 *  ("frei0r.NAME[:SETTINGS]") load no file and are always allowed.
 *  Looking a name up opens nothing: the folders are read once, at add().
 */
#ifndef KOLVEX_PLAYER_BANK_H
#define KOLVEX_PLAYER_BANK_H

#include <string>
#include <vector>

class Bank {
 public:
  // A file or a folder, as given to --bank. False with one line in `err`
  // when it cannot be read or holds nothing the factory makes.
  bool add(const std::string &path, std::string &err);

  // The source to hand the factory for `name`; false with one line in
  // `why` when the bank does not hold it. Two files of the same name: the
  // one given first.
  bool find(const std::string &name, std::string &source, std::string &why) const;

  const std::vector<std::string> &given() const { return given_; }  // --bank, in order
  const std::vector<std::string> &files() const { return files_; }  // every file held

 private:
  std::vector<std::string> given_;
  std::vector<std::string> files_;
};

#endif
