// The bridge's single-threaded event loop.
//
// One poll() over the inotify descriptor, the MQTT socket and a signalfd,
// with its timeout as the one timer (staleness, keepalive, reconnects and the
// textfile refresh): between events the process sleeps in the kernel.
#pragma once

#include "bridge/options.h"

namespace bridge {

// Runs until SIGTERM or SIGINT (SIGHUP reads the configuration again and
// lets bad files be reported again). Returns the exit status: 0 after a
// signal, 1 when the output directory cannot be opened or watched at the
// start, or the MQTT client cannot be set up. An output directory that goes
// away later (removed, moved, replaced) is followed by its path: the status
// says offline until a directory is there again, which is then read.
int run_bridge(const BridgeOptions &opt, const char *password);

}  // namespace bridge
