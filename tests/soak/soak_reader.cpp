// Reader of realtime_soak.sh: reads every value file of an output directory
// in a tight loop and fails on one that holds a partial line.
//
//   soak_reader <outdir> <seconds>
//
// A value file ("...v.txt") is rewritten by the logger after every answer;
// a reader may find it empty (just truncated), never holding text without
// its final line feed. Exit status 0: no partial line seen and at least one
// value file read with text; 1: a partial line (printed, escaped); 2: usage
// or an unreadable directory.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr std::size_t kReadSize = 4096;
constexpr const char *kSuffix = "v.txt";

double now_s() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool is_value_file(const char *name) {
  const std::size_t n = std::strlen(name);
  const std::size_t s = std::strlen(kSuffix);
  return n > s && std::strcmp(name + n - s, kSuffix) == 0;
}

// Printable form of `len` bytes: ASCII as is, everything else as \xHH.
std::string escaped(const char *data, std::size_t len) {
  std::string out;
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: soak_reader <outdir> <seconds>\n");
    return 2;
  }
  const std::string dir = argv[1];
  const double end = now_s() + std::strtod(argv[2], nullptr);
  std::array<char, kReadSize> buf{};
  long rounds = 0;
  long reads = 0;
  long empty = 0;
  long full = 0;
  while (now_s() < end) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
      std::perror(dir.c_str());
      return 2;
    }
    for (dirent *e; (e = readdir(d)) != nullptr;) {
      if (!is_value_file(e->d_name)) continue;
      const std::string path = dir + "/" + e->d_name;
      const int fd = open(path.c_str(), O_RDONLY);
      if (fd < 0) continue;  // replaced between listing and opening
      std::size_t len = 0;
      for (ssize_t n; len < buf.size() && (n = read(fd, buf.data() + len, buf.size() - len)) > 0;) {
        len += static_cast<std::size_t>(n);
      }
      close(fd);
      ++reads;
      if (len == 0) {
        ++empty;
      } else if (buf[len - 1] != '\n') {
        std::printf("soak_reader: FAIL: partial line in %s: '%s'\n", path.c_str(),
                    escaped(buf.data(), len).c_str());
        closedir(d);
        return 1;
      } else {
        ++full;
      }
    }
    closedir(d);
    ++rounds;
  }
  std::printf("soak_reader: %ld rounds, %ld value file reads (%ld with a whole line, %ld empty)\n",
              rounds, reads, full, empty);
  if (full == 0) {
    std::printf("soak_reader: FAIL: no value file with text was ever read\n");
    return 1;
  }
  return 0;
}
