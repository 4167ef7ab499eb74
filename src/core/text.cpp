// Bounded copy and number parsing.
#include "core/text.h"

#include <climits>

namespace core {

std::size_t copy_bounded(char *dst, std::size_t size, const char *src, std::size_t max) {
  if (size == 0) return 0;
  if (max > size - 1) max = size - 1;
  std::size_t n = 0;
  while (n < max && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
  return n;
}

long long parse_long(const char *text) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    if (value > (LLONG_MAX - digit) / 10) {
      value = LLONG_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace core
