// Command-line options and argument normalisation.
#include "app/options.h"

#include <cstring>

#include "core/poll_context.h"
#include "core/text.h"

namespace app {

Options parse_options(int argc, const char *const *argv) {
  Options opts{false, false, false, false, argc >= 3};
  if (argc < 4) {
    opts.run_guard = opts.complete;
    return opts;
  }
  const char *letters = argv[3];
  if (letters[0] != '-') return opts;  // no options, and no guard
  opts.debug = std::strchr(letters, 'd') != nullptr;
  opts.mode = std::strchr(letters, 'l') != nullptr;
  opts.quiet = std::strchr(letters, 'q') != nullptr && !opts.debug;  // d wins over q
  opts.run_guard = std::strchr(letters, 'f') == nullptr && std::strchr(letters, 'm') == nullptr;
  return opts;
}

InfoRequest info_request(int argc, const char *const *argv) {
  if (argc != 2) return InfoRequest::kNone;
  if (std::strcmp(argv[1], "--help") == 0) return InfoRequest::kHelp;
  if (std::strcmp(argv[1], "--version") == 0) return InfoRequest::kVersion;
  return InfoRequest::kNone;
}

void normalise_outdir(char *outdir, std::size_t size, const char *arg) {
  std::size_t n = core::copy_bounded(outdir, size, arg, core::kOutdirCopyMax);
  if ((n == 0 || outdir[n - 1] != '/') && n + 1 < size) {
    outdir[n] = '/';
    outdir[n + 1] = '\0';
  }
}

}  // namespace app
