// Start-up sequence of the logger.
#include "app/startup.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/descriptors.h"
#include "app/guard.h"
#include "app/options.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "output/notify.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace app {

namespace {

char g_stdout_buffer[BUFSIZ];  // line-buffered even into a pipe or file

}  // namespace

void startup(core::PollContext *ctx, int argc, const char *const *argv) {
  // Before anything is opened: the serial device must never become standard output.
  fill_standard_descriptors();
  // A file-size limit then fails the write (EFBIG, counted and reported)
  // instead of ending the logger.
  std::signal(SIGXFSZ, SIG_IGN);
  std::setvbuf(stdout, g_stdout_buffer, _IOLBF, sizeof g_stdout_buffer);
  core::init_context(ctx);
  const InfoRequest info = info_request(argc, argv);
  if (info != InfoRequest::kNone) {
    std::fputs(info == InfoRequest::kHelp ? kHelpText : kVersionText, stdout);
    // Line buffering writes (and loses) each line as it comes, so a write
    // error shows only in the stream's error flag, not in the last flush.
    const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    std::exit(written ? 0 : -1);
  }
  std::puts(kBanner);
  Options opts = parse_options(argc, argv);
  ctx->debug = opts.debug ? 1 : 0;
  ctx->mode = opts.mode ? 1 : 0;
  ctx->quiet = opts.quiet ? 1 : 0;
  if (opts.run_guard) check_multiple_running(ctx);
  if (!opts.complete) {
    std::puts(kUsage);
    std::exit(-1);
  }
  core::copy_bounded(ctx->serial_path.data(), core::kDirSize, argv[1], core::kSerialPathMax);
  normalise_outdir(ctx->outdir.data(), core::kDirSize, argv[2]);
  ctx->fd = serial::open_serial(ctx->serial_path.data());
  ctx->reset_pending = 0;
  ctx->state = core::STATE_LOAD;
  ctx->rxz = 0;
  ctx->eep = core::EEP_NONE;
  serial::set_command(ctx, ctx->mode ? serial::kCmdLampOn : serial::kCmdLampOff);
  serial::send_command(ctx);
  (void)output::notify(output::kNotifyReady);
}

}  // namespace app
