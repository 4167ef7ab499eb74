// Labels and paths of the per-device files.
#include "output/paths.h"

#include <cstdio>
#include <cstring>

#include "core/poll_context.h"

namespace output {

const char *device_label(const core::DeviceTable &table, int i) {
  const core::IdText &name = table.idn[static_cast<std::size_t>(i)];
  return name[0] != '\0' ? name.data() : table.ids[static_cast<std::size_t>(i)].data();
}

bool stays_in_outdir(const char *stem) { return std::strchr(stem, '/') == nullptr; }

bool is_usable_label(const char *label) {
  return stays_in_outdir(label) && std::strcmp(label, "err") != 0;
}

char *device_path(char *path, std::size_t size, const char *outdir, const char *label,
                  const char *suffix) {
  std::snprintf(path, size, "%s%s%s", outdir, label, suffix);
  return path;
}

}  // namespace output
