// kelvinlog: resident 1-Wire data logger. Parse, start, run.
#include "app/startup.h"
#include "core/poll_context.h"
#include "engine/main_loop.h"

int main(int argc, char **argv) {
  static core::PollContext ctx;  // the one context, for the whole run
  app::startup(&ctx, argc, argv);
  engine::run(&ctx);
}
