// File helpers of every test.
#include "support/files.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return std::remove(path);
}

}  // namespace

TempDir::TempDir() {
  char tmpl[] = "/tmp/kelvinlog-test-XXXXXX";
  const char *made = mkdtemp(tmpl);
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  path_ = made;
}

TempDir::~TempDir() {
  if (!path_.empty()) remove_tree(path_);
}

ChdirGuard::ChdirGuard(const std::string &dir) {
  char buf[4096];
  old_ = getcwd(buf, sizeof buf) != nullptr ? buf : "/";
  if (chdir(dir.c_str()) != 0) std::perror(dir.c_str());
}

ChdirGuard::~ChdirGuard() {
  if (chdir(old_.c_str()) != 0) std::perror(old_.c_str());
}

void make_dirs(const std::string &path) {
  std::string part;
  std::stringstream ss(path);
  std::string piece;
  while (std::getline(ss, piece, '/')) {
    if (piece.empty()) continue;
    part += "/" + piece;
    mkdir(part.c_str(), 0755);
  }
}

void remove_tree(const std::string &path) {
  chmod(path.c_str(), 0755);
  nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string read_file(const std::string &path, const std::string &missing) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return missing;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool path_exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void replace_file(const std::string &path, const std::string &content) {
  const std::string tmp = path + ".new";
  write_file(tmp, content);
  if (std::rename(tmp.c_str(), path.c_str()) != 0) ADD_FAILURE() << "cannot rename to " << path;
}

void write_script(const std::string &path, const std::string &body) {
  write_file(path, body);
  chmod(path.c_str(), 0755);
}

std::vector<std::string> list_dir(const std::string &path) {
  std::vector<std::string> names;
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent *e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

int count_of(const std::string &hay, const std::string &needle) {
  if (needle.empty()) return 0;
  int n = 0;
  for (std::size_t pos = hay.find(needle); pos != std::string::npos;
       pos = hay.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

}  // namespace testsupport
