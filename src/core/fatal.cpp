// Fatal exit with the cause.
#include "core/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace core {

void die_perror(const char *name) {
  std::perror(name);
  std::exit(-1);
}

}  // namespace core
