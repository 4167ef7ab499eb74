// Label and path rule for every per-device file in the output directory.
//
// A device's files are named outdir + label + suffix, where the label is its
// configured name, or its ROM id when it has none.
#pragma once

#include <cstddef>

namespace core {
struct DeviceTable;
}  // namespace core

namespace output {

// The label of entry i: idn[i] when not empty, else ids[i].
const char *device_label(const core::DeviceTable &table, int i);

// Writes outdir + label + suffix into `path` (`size` bytes); a result that
// would not fit is cut at the buffer's end. Returns `path`.
char *device_path(char *path, std::size_t size, const char *outdir, const char *label,
                  const char *suffix);

}  // namespace output
