// The three lookups made in the raw configuration text: name, model and field.
//
// The text is never parsed into records; each lookup is one forward search for
// the first occurrence of its key plus a short scan of that line or word.
#pragma once

#include <array>
#include <cstddef>

namespace core {
struct PollContext;
}  // namespace core

namespace config {

constexpr std::size_t kFieldMax = 100;  // characters of a key word that count
using FieldBuffer = std::array<char, kFieldMax + 1>;

enum class NameResult {
  kAbsent,  // the id does not occur in the text
  kNoName,  // it occurs, but no usable name follows it
  kFound,   // `name` holds 1 to 16 characters
};

// Name rule: the text after the ';' that stands 16 characters after the first
// occurrence of `id`, up to the next ';' or control character, cut to 16.
// `text` is NUL-terminated; `name` receives a NUL-terminated result.
NameResult lookup_name(const char *text, const char *id, char *name, std::size_t name_size,
                       bool debug);

// Model rule over a NUL-terminated `text`: the last field of the line of the
// first occurrence of `id`, if it begins with "QV-", has at least 4 characters
// and no '#' follows the id on its line. `qvm` (`size` bytes) receives the
// model, cut to size - 1 characters, or an empty text. Traces under `debug`.
void lookup_model_in(const char *text, const char *id, char *qvm, std::size_t size, bool debug);

// The model rule for the entry being polled: the configuration's model of
// `id` into ctx->qvm (empty if none), cut to 35 characters.
void lookup_model(core::PollContext *ctx, const char *id);

// Field lookup: field n (counted from the start of the key word, separated by
// `sep`) of the word holding the first occurrence of `key`. Only the first 100
// characters of the word count. Returns `out`, possibly empty.
const char *extract_field(const char *text, const char *key, char sep, int n, FieldBuffer &out);

}  // namespace config
