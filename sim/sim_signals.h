// Stop signals of the stand-in: SIGINT, SIGTERM and SIGHUP end its event loop.
#pragma once

namespace adaptersim {

// Installs the handlers of SIGINT, SIGTERM and SIGHUP, which set the stop
// flag and write one byte to a non-blocking self-pipe, and ignores SIGPIPE.
// No SA_RESTART: a blocked poll() returns with EINTR. False when the pipe
// cannot be made.
bool install_stop_signals();

// Read end of the self-pipe: readable once a stop signal has arrived.
int stop_signal_fd();

// True once a stop signal has arrived.
bool stop_requested();

}  // namespace adaptersim
