// Both clocks read together.
#include "bridge/clock.h"

#include <time.h>

namespace bridge {

Now clock_now() {
  timespec mono{};
  timespec real{};
  clock_gettime(CLOCK_MONOTONIC, &mono);
  clock_gettime(CLOCK_REALTIME, &real);
  Now now;
  now.mono = static_cast<MonoMs>(mono.tv_sec) * 1000 + mono.tv_nsec / 1000000;
  now.real = static_cast<double>(real.tv_sec) + static_cast<double>(real.tv_nsec) / 1e9;
  return now;
}

}  // namespace bridge
