// Configuration lookups: name rule, model rule, field lookup.
#include "config/lookup.h"

#include <cstdint>
#include <cstring>

#include "core/poll_context.h"
#include "core/text.h"
#include "core/trace.h"

namespace config {

using core::is_control;
using core::is_word_char;
using core::trace_if;

namespace {

constexpr int kNameDistance = 16;  // a name's ';' stands one ROM id length after the id

// Diagnostic rendering of an address: any integer will do.
int address_int(const void *p) {
  return static_cast<int>(static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)));
}

}  // namespace

NameResult lookup_name(const char *text, const char *id, char *name, std::size_t name_size,
                       bool debug) {
  if (name_size > 0) name[0] = '\0';
  if (id[0] == '\0') return NameResult::kAbsent;
  const char *occ = std::strstr(text, id);
  if (occ == nullptr) return NameResult::kAbsent;
  int p = static_cast<int>(occ - text) + kNameDistance;
  trace_if(debug, "mpos=%i,epos=%i,putchar:\n", p, p);
  // The id itself is not NUL; the bytes up to the ';' may end the text early.
  if (strnlen(occ, kNameDistance + 1) <= static_cast<std::size_t>(kNameDistance)) {
    return NameResult::kNoName;
  }
  const char *sep = occ + kNameDistance;
  if (*sep != ';' || sep[1] == ';' || is_control(sep[1])) return NameResult::kNoName;
  std::size_t kept = 0;
  for (const char *c = sep + 1; *c != ';' && !is_control(*c); ++c) {
    trace_if(debug, "%c", *c);
    if (kept < core::kIdMax && kept + 1 < name_size) name[kept++] = *c;
  }
  if (name_size > 0) name[kept] = '\0';
  return NameResult::kFound;
}

void lookup_model_in(const char *text, const char *id, char *qvm, std::size_t size,
                     bool debug) {
  if (size > 0) qvm[0] = '\0';
  const char *occ = id[0] != '\0' ? std::strstr(text, id) : nullptr;
  trace_if(debug, "stack=%s,needle=%s,spop=%i,%d,%d\n", text, id, address_int(occ),
           address_int(text), occ != nullptr ? static_cast<int>(occ - text) : 0);
  if (occ == nullptr) return;
  const int start = static_cast<int>(occ - text);
  int last = start;
  trace_if(debug, "mpos=%i,epos=%i,putchar:\n", last, start);
  int i = start;
  while (!is_control(text[i]) && text[i] != '#') {
    trace_if(debug, "%c", text[i]);
    if (text[i] == ';') last = i;
    ++i;
    if (!is_control(text[i])) continue;
    trace_if(debug, "\n");
    if (i - last >= 5 && std::strncmp(text + last + 1, "QV-", 3) == 0) {
      trace_if(debug, "mpos=%i,epos=%i,%s\n", last, i, text + last);
      if (size == 0) continue;
      std::size_t len = static_cast<std::size_t>(i - last - 1);
      if (len > size - 1) len = size - 1;
      std::memcpy(qvm, text + last + 1, len);
      qvm[len] = '\0';
      trace_if(debug, "qvm=%s:", qvm);
    }
  }
}

void lookup_model(core::PollContext *ctx, const char *id) {
  lookup_model_in(ctx->config.data(), id, ctx->qvm.data(), core::kQvmSize, ctx->debug != 0);
}

const char *extract_field(const char *text, const char *key, char sep, int n, FieldBuffer &out) {
  out[0] = '\0';
  if (key[0] == '\0' || n < 0) return out.data();
  const char *occ = std::strstr(text, key);
  if (occ == nullptr) return out.data();
  const char *word = occ;
  while (word > text && is_word_char(word[-1])) --word;
  std::size_t len = 0;
  while (len < kFieldMax && is_word_char(word[len])) ++len;
  // Fields count from the start of the (possibly cut) word.
  std::size_t pos = 0;
  for (int k = 0; k < n; ++k) {
    while (pos < len && word[pos] != sep) ++pos;
    if (pos >= len) return out.data();
    ++pos;
  }
  std::size_t kept = 0;
  while (pos < len && word[pos] != sep) out[kept++] = word[pos++];
  out[kept] = '\0';
  return out.data();
}

}  // namespace config
