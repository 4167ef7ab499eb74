// Fuzz target: the three configuration lookups on any text with any id or key.
//
// Input: four header bytes, the key, then the text (at most 100000 bytes).
//   byte 0: key length (0-23); byte 1: bit 0 debug, bits 1-7 size of the name
//   buffer (0-17); byte 2: field separator; byte 3: field number (-1 to 5).
// Text, key and name live in exactly sized heap blocks, and the bytes of
// ConfigText after the text's end are poisoned, so that AddressSanitizer
// reports any read past a terminating NUL.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "config/lookup.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "fuzz_support.h"

namespace {

using namespace core;
using namespace config;

constexpr std::size_t kHeader = 4;
constexpr std::size_t kKeyMax = 23;

PollContext g_ctx;

std::unique_ptr<char[]> exact_copy(const std::uint8_t *data, std::size_t size) {
  std::unique_ptr<char[]> copy(new char[size + 1]);
  if (size > 0) std::memcpy(copy.get(), data, size);
  copy[size] = '\0';
  return copy;
}

bool has_control(const char *text) {
  for (; *text != '\0'; ++text) {
    if (is_control(*text)) return true;
  }
  return false;
}

void check_name(const char *text, const char *key, NameResult found, const char *name,
                std::size_t name_size) {
  if (found == NameResult::kAbsent && key[0] != '\0' && std::strstr(text, key) != nullptr) {
    fuzzsupport::fail("lookup_name: an occurring id reported absent", key);
  }
  if (found != NameResult::kAbsent && std::strstr(text, key) == nullptr) {
    fuzzsupport::fail("lookup_name: a missing id reported present", key);
  }
  if (name_size == 0) return;
  if (std::memchr(name, '\0', name_size) == nullptr) fuzzsupport::fail("name not terminated", key);
  if (std::strlen(name) > kIdMax) fuzzsupport::fail("name longer than 16 characters", name);
  if (std::strchr(name, ';') != nullptr || has_control(name)) {
    fuzzsupport::fail("name holds a separator or control character", name);
  }
  if (found == NameResult::kFound && name_size > 1 && name[0] == '\0') {
    fuzzsupport::fail("name found but empty", key);
  }
  if (found != NameResult::kFound && name[0] != '\0') fuzzsupport::fail("no name but text", name);
}

void check_model(const char *qvm) {
  std::size_t len = strnlen(qvm, kQvmSize);
  if (len >= kQvmSize) fuzzsupport::fail("qvm not terminated", "");
  if (len == 0) return;
  if (len < 4 || std::strncmp(qvm, "QV-", 3) != 0) fuzzsupport::fail("qvm malformed", qvm);
  if (has_control(qvm) || std::strchr(qvm, ';') != nullptr || std::strchr(qvm, '#') != nullptr) {
    fuzzsupport::fail("qvm holds a separator, '#' or control character", qvm);
  }
}

void check_field(const FieldBuffer &out, const char *result, char sep) {
  if (result != out.data()) fuzzsupport::fail("extract_field returned a foreign buffer", "");
  std::size_t len = strnlen(result, out.size());
  if (len > kFieldMax) fuzzsupport::fail("field not terminated", "");
  for (std::size_t i = 0; i < len; ++i) {
    if (!is_word_char(result[i])) fuzzsupport::fail("field holds a blank or control char", result);
    if (result[i] == sep) fuzzsupport::fail("field holds its separator", result);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::workspace();
  init_context(&g_ctx);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::size_t key_len = std::min<std::size_t>(data[0] % (kKeyMax + 1), size - kHeader);
  const bool debug = (data[1] & 1u) != 0;
  const std::size_t name_size = static_cast<std::size_t>(data[1] >> 1) % (kIdSize + 1);
  const char sep = static_cast<char>(data[2]);
  const int field = static_cast<int>(data[3] % 7) - 1;
  const std::uint8_t *text_bytes = data + kHeader + key_len;
  std::size_t text_len = size - kHeader - key_len;
  if (text_len > kConfigMax) text_len = kConfigMax;

  auto key = exact_copy(data + kHeader, key_len);
  auto text = exact_copy(text_bytes, text_len);

  // Name rule.
  std::unique_ptr<char[]> name(new char[name_size > 0 ? name_size : 1]);
  std::memset(name.get(), 'X', name_size > 0 ? name_size : 1);
  NameResult found = lookup_name(text.get(), key.get(), name.get(), name_size, debug);
  check_name(text.get(), key.get(), found, name.get(), name_size);

  // Model rule, on ConfigText with everything after the text poisoned.
  PollContext *ctx = &g_ctx;
  ctx->debug = debug ? 1 : 0;
  char *config = ctx->config.data();
  ASAN_UNPOISON_MEMORY_REGION(config, kConfigSize);
  const std::size_t used = strnlen(text.get(), kConfigMax);
  std::memcpy(config, text.get(), used);
  config[used] = '\0';
  ASAN_POISON_MEMORY_REGION(config + used + 1, kConfigSize - used - 1);
  lookup_model(ctx, key.get());
  ASAN_UNPOISON_MEMORY_REGION(config, kConfigSize);
  check_model(ctx->qvm.data());

  // Field lookup.
  std::unique_ptr<FieldBuffer> out(new FieldBuffer);
  const char *result = extract_field(text.get(), key.get(), sep, field, *out);
  check_field(*out, result, sep);
  return 0;
}
