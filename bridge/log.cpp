// Log lines on standard error, one write each so lines of two processes never mix.
#include "bridge/log.h"

#include <cstdarg>
#include <cstring>

namespace bridge {

namespace {
std::FILE *g_log = nullptr;  // nullptr: standard error
}  // namespace

void set_log_stream(std::FILE *stream) { g_log = stream; }

void log_line(const char *format, ...) {
  char line[512];
  int n = std::snprintf(line, sizeof line, "kelvinlog-bridge: ");
  va_list args;
  va_start(args, format);
  const int m = std::vsnprintf(line + n, sizeof line - static_cast<std::size_t>(n) - 1, format, args);
  va_end(args);
  if (m > 0) n += m;
  if (n > static_cast<int>(sizeof line) - 2) n = static_cast<int>(sizeof line) - 2;
  line[n++] = '\n';
  line[n] = '\0';
  std::FILE *out = g_log != nullptr ? g_log : stderr;
  std::fputs(line, out);
  std::fflush(out);
}

Shown shown(const char *text) { return shown(text, std::strlen(text)); }

Shown shown(const char *text, std::size_t len) {
  Shown out{};
  constexpr std::size_t kRoom = std::tuple_size<Shown>::value - 4;  // room for "..." and NUL
  std::size_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool plain = c >= 0x20 && c < 0x7F && c != '\\';
    const std::size_t need = plain ? 1 : 4;
    if (n + need > kRoom) {
      std::memcpy(out.data() + n, "...", 3);
      n += 3;
      break;
    }
    if (plain) {
      out[n++] = static_cast<char>(c);
    } else {
      std::snprintf(out.data() + n, 5, "\\x%02X", c);
      n += 4;
    }
  }
  out[n] = '\0';
  return out;
}

}  // namespace bridge
