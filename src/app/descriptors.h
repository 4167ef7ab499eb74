// The process's standard descriptors, made safe before anything is opened.
//
// A launcher may start the logger with standard input, output or error
// closed; the next open would then take that number, and the serial device
// or an output file would receive every echo line or error message.
#pragma once

namespace app {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, in that
// order. Without /dev/null the root directory, opened read-only, holds the
// place instead: writes to it fail, as they would to a closed descriptor.
void fill_standard_descriptors();

}  // namespace app
