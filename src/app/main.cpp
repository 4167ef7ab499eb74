// kelvinlog: resident 1-Wire data logger. Parse, start, run.
#include "app/startup.h"
#include "engine/main_loop.h"
#include "engine/poll_context.h"

int main(int argc, char **argv) {
  static PollContext ctx;  // the one context, for the whole run
  startup(&ctx, argc, argv);
  run(&ctx);
}
