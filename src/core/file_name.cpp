// Which names may stand at the start of a file name in the output directory.
#include "core/file_name.h"

#include <cstring>

namespace core {

namespace {

// A device's files: label + ".txt" (raw), and label + letter + ".txt" for
// each of these letters (value file, write log, control file).
constexpr char kFileLetters[] = "veo";

// True when `longer` is `shorter` followed by one letter of `letters`.
bool extends_by_one(const char *longer, const char *shorter, const char *letters) {
  const std::size_t n = std::strlen(shorter);
  return std::strncmp(longer, shorter, n) == 0 && longer[n] != '\0' && longer[n + 1] == '\0' &&
         std::strchr(letters, longer[n]) != nullptr;
}

}  // namespace

bool stays_in_outdir(const char *stem) { return std::strchr(stem, '/') == nullptr; }

bool is_usable_label(const char *label) {
  return stays_in_outdir(label) && std::strcmp(label, "err") != 0;
}

bool labels_share_a_file(const char *a, const char *b) {
  return std::strcmp(a, b) == 0 || extends_by_one(a, b, kFileLetters) ||
         extends_by_one(b, a, kFileLetters);
}

bool shares_the_s0_file(const char *label, const char *stem) {
  return std::strcmp(label, stem) == 0 || extends_by_one(label, stem, "v");
}

}  // namespace core
