// Which names may stand at the start of a file name in the output directory.
#include "core/file_name.h"

#include <cstring>

namespace core {

bool stays_in_outdir(const char *stem) { return std::strchr(stem, '/') == nullptr; }

bool is_usable_label(const char *label) {
  return stays_in_outdir(label) && std::strcmp(label, "err") != 0;
}

}  // namespace core
