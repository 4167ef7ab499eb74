// Labels and paths of the per-device files.
#include "output/paths.h"

#include <cstdio>

#include "core/poll_context.h"

namespace output {

const char *device_label(const core::DeviceTable &table, int i) {
  const core::IdText &name = table.idn[static_cast<std::size_t>(i)];
  return name[0] != '\0' ? name.data() : table.ids[static_cast<std::size_t>(i)].data();
}

char *device_path(char *path, std::size_t size, const char *outdir, const char *label,
                  const char *suffix) {
  std::snprintf(path, size, "%s%s%s", outdir, label, suffix);
  return path;
}

}  // namespace output
