// File helpers of every test: temporary directories, whole-file reads and
// writes, directory listings and text counts.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under /tmp, removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;  // the directory; empty when it could not be made
};

// Makes `dir` the working directory for the lifetime of the object.
class ChdirGuard {
 public:
  explicit ChdirGuard(const std::string &dir);
  ~ChdirGuard();
  ChdirGuard(const ChdirGuard &) = delete;
  ChdirGuard &operator=(const ChdirGuard &) = delete;

 private:
  std::string old_;  // working directory to return to
};

// Creates `path` and every missing directory above it.
void make_dirs(const std::string &path);
// Removes `path` with everything below it, never following a link.
void remove_tree(const std::string &path);

// Whole file; `missing` when it cannot be opened.
std::string read_file(const std::string &path, const std::string &missing = "<missing>");
// True when anything stands at `path`, a dangling link included.
bool path_exists(const std::string &path);
bool is_directory(const std::string &path);
// Writes `content` as the whole file (created, or truncated).
void write_file(const std::string &path, const std::string &content);
// Writes a temporary file and renames it over `path`: readers see old or new, never half.
void replace_file(const std::string &path, const std::string &content);
// A shell script with mode 0755.
void write_script(const std::string &path, const std::string &body);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string &path);

// Number of non-overlapping occurrences of `needle`.
int count_of(const std::string &hay, const std::string &needle);
// Lines of `text` without their '\n' (a final unterminated piece is kept).
std::vector<std::string> split_lines(const std::string &text);

}  // namespace testsupport
