// Process start-up: banner, options, guard, arguments, serial port, first command.
#pragma once

namespace core {
struct PollContext;
}  // namespace core

// The version comes from the project version in CMakeLists.txt, and only from there.
#ifndef KELVINLOG_VERSION
#error "KELVINLOG_VERSION is defined by the build from the project version"
#endif

namespace app {

constexpr const char *kBanner = "start kelvinlog v" KELVINLOG_VERSION "\r";
constexpr const char *kUsage = "missing parameters, please start like: ./kelvinlog /dev/ttyUSB0 /tmp/ ";
constexpr const char *kVersionText = "kelvinlog " KELVINLOG_VERSION "\n";
constexpr const char *kHelpText =
    "usage: kelvinlog DEVICE OUTDIR [-LETTERS]\n"
    "       kelvinlog --help | --version\n"
    "\n"
    "Polls every device of the 1-Wire bus adapter on the serial port DEVICE once\n"
    "per cycle and writes the readings as small text files into OUTDIR. The\n"
    "working directory holds kelvinlog-config.txt, read again every cycle.\n"
    "\n"
    "Option letters, read from a third argument that begins with '-', in any order:\n"
    "  d  detailed traces on standard output, and debug.txt in the working directory\n"
    "  q  quiet: no echo of commands, lines, the configuration, names and values\n"
    "     (status lines and errors are still printed; d overrides q)\n"
    "  l  first command \"$L+\" instead of \"$L-\"\n"
    "  f  do not run the single-instance guard (always give it under a supervisor)\n"
    "  m  the same as f\n"
    "\n"
    "Without f or m the logger looks for another running copy and, if there is\n"
    "one, stops every copy by name. Fatal errors end it with exit status 255.\n"
    "Under systemd, NOTIFY_SOCKET receives READY=1 and, after every cycle,\n"
    "WATCHDOG=1 with a STATUS= line. See kelvinlog(1).\n";

// Runs start-up up to the first command; returns with the context ready for
// the main loop, or ends the process (--help, --version, usage, guard, serial
// device). Tells a service manager that the logger is ready.
void startup(core::PollContext *ctx, int argc, const char *const *argv);

}  // namespace app
