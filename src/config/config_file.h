// Loading of the configuration file kelvinlog-config.txt into ConfigText.
//
// The file is read raw, once per cycle, and searched as text by the lookups.
#pragma once

#include <cstddef>
#include <cstdio>

namespace core {
struct PollContext;
}  // namespace core

namespace config {

constexpr const char *kConfigFileName = "kelvinlog-config.txt";

// Clears `buf` (`size` bytes) and reads up to size - 1 raw characters of `file`
// into it; the byte after the text and the last byte are NUL. Returns the count.
std::size_t read_raw_text(std::FILE *file, char *buf, std::size_t size);

// The same through a descriptor, without stdio: reads until size - 1 bytes,
// end of file or an error. Returns the count.
std::size_t read_raw_fd(int fd, char *buf, std::size_t size);

// Reads the configuration into ctx->config and echoes it as "%s:\n%sEOF\n".
// Ends the process when the file cannot be opened for reading and writing,
// or when what opened is not a regular file (a FIFO, a device: ENXIO).
void load_config(core::PollContext *ctx);

}  // namespace config
