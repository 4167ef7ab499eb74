// Which names may stand at the start of a file name in the output directory.
//
// The logger names a device's files after its configured name or ROM id; the
// bridge, which reads those files, follows the same rule to find them.
#pragma once

namespace core {

// True when `stem` can begin a file name inside the output directory: it
// holds no '/', so no path built from it reaches into another directory.
bool stays_in_outdir(const char *stem);

// True when `label` can name a device's files: it stays in the output
// directory and is not "err", whose raw file would be the error log err.txt.
bool is_usable_label(const char *label);

}  // namespace core
