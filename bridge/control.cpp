// Switch payloads, the pending-order check and the control-file writer.
#include "bridge/control.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "bridge/files.h"
#include "bridge/limits.h"

namespace bridge {

char switch_payload(const void *payload, std::size_t len) {
  const char *p = static_cast<const char *>(payload);
  if (p == nullptr || len == 0 || len > 2) return 0;
  if (len == 2 && p[1] != '\n') return 0;
  return p[0] == '0' || p[0] == '1' ? p[0] : 0;
}

ControlCheck check_control_text(const char *text, std::size_t len) {
  // Positions the file does not supply count as absent, as the logger reads them.
  const auto at = [&](std::size_t i) { return i < len ? text[i] : '\0'; };
  if (at(1) == ';') return at(4) == ';' ? ControlCheck::kPendingConfig : ControlCheck::kFree;
  return at(0) == 'r' ? ControlCheck::kPendingReset : ControlCheck::kFree;
}

char control_switch_state(const char *text, std::size_t len) {
  return len > 0 && text[0] == '1' ? '1' : '0';
}

bool write_switch(int dirfd, const char *label, char state, bool &changed, const char *&why) {
  changed = false;
  why = nullptr;
  char name[kLabelSize + 8];
  if (std::snprintf(name, sizeof name, "%so.txt", label) >= static_cast<int>(sizeof name)) {
    why = "label too long";
    return false;
  }
  char text[kControlReadMax + 1];
  std::size_t len = 0;
  const ReadResult r = read_file_at(dirfd, name, text, kControlReadMax, false, len);
  if (r == ReadResult::kNotRegular) {
    why = "the control file is not a regular file";
    return false;
  }
  if (r == ReadResult::kError) {
    why = "the control file cannot be read";
    return false;
  }
  switch (check_control_text(text, len)) {
    case ControlCheck::kPendingReset: why = "the control file holds a pending bus reset"; return false;
    case ControlCheck::kPendingConfig:
      why = "the control file holds a pending configuration string";
      return false;
    case ControlCheck::kFree: break;
  }
  const char wanted[2] = {state, '\n'};
  if (r == ReadResult::kOk && len == 2 && std::memcmp(text, wanted, 2) == 0) return true;
  // The logger opens a control file for reading and writing, and one it cannot
  // open that way counts as absent: the file is readable and writable by its
  // group (the logger's, as the output directory is setgid) whatever the umask.
  const mode_t mode = default_file_mode() | S_IRGRP | S_IWGRP;
  const int rc = replace_file_at(dirfd, name, wanted, sizeof wanted, mode);
  if (rc != 0) {
    why = std::strerror(rc);
    return false;
  }
  changed = true;
  return true;
}

}  // namespace bridge
