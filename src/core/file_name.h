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

// True when devices labelled `a` and `b` would write one and the same file:
// the labels are equal, or one is the other followed by a letter that sets
// one of a device's files apart from its raw file ('v', 'e' or 'o'), as
// Kitchenv.txt is both the value file of Kitchen and the raw file of Kitchenv.
bool labels_share_a_file(const char *a, const char *b);

// True when a device labelled `label` would write the value file of the S0
// channel with the file-name stem `stem` (stem + "v.txt").
bool shares_the_s0_file(const char *label, const char *stem);

}  // namespace core
