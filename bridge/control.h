// Switch commands from MQTT, checked and written as the logger's control file.
//
// Only the output switch is offered: "1" or "0" becomes "<label>o.txt"
// holding "1\n" or "0\n". Bus resets and configuration strings are never
// written, and a control file that holds one that the logger has not yet
// carried out is never overwritten.
#pragma once

#include <cstddef>

namespace bridge {

// The switch state of a command payload: '1' or '0' for exactly "1" or "0",
// optionally followed by one line feed (as `echo 1 | mosquitto_pub -s`
// sends it); 0 for anything else.
char switch_payload(const void *payload, std::size_t len);

enum class ControlCheck {
  kFree,           // absent, or holds only a switch state: may be replaced
  kPendingReset,   // 'r' and no ';' second: the logger has not yet taken the bus reset
  kPendingConfig,  // ';' second and fifth: a configuration string waits to be sent
};

// What the first characters of a control file (as the logger reads them) hold.
ControlCheck check_control_text(const char *text, std::size_t len);

// The switch state a control text stands for: '1' when it begins with '1'
// (the logger then polls with ";11"), else '0'.
char control_switch_state(const char *text, std::size_t len);

// Writes "<label>o.txt" in the directory `dirfd` to hold `state` and a line
// feed, through a temporary file and rename(). Refuses (false, reason in
// `why`) a control file that is not a regular file or holds a pending bus
// reset or configuration string. The file is readable and writable by its
// group whatever the umask, so that the logger can rewrite it. `changed`
// tells whether a write was made (false when the file already holds the
// state).
bool write_switch(int dirfd, const char *label, char state, bool &changed, const char *&why);

}  // namespace bridge
