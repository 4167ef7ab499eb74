// The one way the logger ends on a failure: perror with a name, exit status -1.
#pragma once

namespace core {

// Prints `perror(name)` and ends the process with status -1 (255 to the shell).
[[noreturn]] void die_perror(const char *name);

}  // namespace core
