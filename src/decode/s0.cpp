// S0 channels: rates and the scaling of impulse counts.
#include "decode/s0.h"

#include <cinttypes>
#include <cstdio>

#include "core/text.h"

namespace decode {

std::uint64_t scale_to_wh(std::uint32_t count, std::int32_t imp) {
  const std::uint64_t c = count;
  switch (imp) {
    case 1000: return c;
    case 2000: return c / 2;
    case 800: return c * 5 / 4;
    case 500: return c * 2;
    default: break;
  }
  if (imp <= 0) return c;
  return c * 1000u / static_cast<std::uint64_t>(imp);
}

std::int32_t impulse_rate(const char *field) {
  if (field[0] == '\0') return kDefaultImpulsesPerKwh;
  const long long imp = core::parse_long(field);
  if (imp <= 0 || imp > INT32_MAX) return kDefaultImpulsesPerKwh;
  return static_cast<std::int32_t>(imp);
}

std::uint64_t decode_s0(const char *count, std::int32_t imp, char *value, std::size_t size) {
  const std::uint64_t wh = scale_to_wh(static_cast<std::uint32_t>(core::parse_long(count)), imp);
  std::snprintf(value, size, "%" PRIu64, wh);
  return wh;
}

}  // namespace decode
