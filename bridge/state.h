// What the bridge knows: the configuration, every label seen with its latest
// values and their freshness; and what it publishes when any of it changes.
//
// Driven by the event loop (files closed or moved into the output directory,
// the configuration rewritten, messages and connects of the MQTT link, the
// timer) with the current time passed in, so tests run it without waiting.
// Its rooms: state.cpp (the label table), state_files.cpp (reading value and
// control files), state_publish.cpp (publishing, switch commands),
// state_prom.cpp (staleness, the textfile), retained.cpp (renames and what
// the broker retains).
#pragma once

#include <time.h>

#include <array>
#include <cstdint>
#include <string>

#include "bridge/clock.h"
#include "bridge/labels.h"
#include "bridge/limits.h"
#include "bridge/options.h"
#include "bridge/sink.h"
#include "bridge/topics.h"
#include "bridge/values.h"

namespace bridge {

constexpr MonoMs kPromMinGapMs = 1000;     // rewrites of the textfile at most once a second
constexpr MonoMs kPromRefreshMs = 15000;   // and at least every 15 s, so ages stay current
constexpr std::size_t kMaxComplaints = 256;  // file names remembered as already reported

// One label that the bridge follows.
struct LabelEntry {
  bool used = false;                    // slot taken
  std::array<char, kLabelSize> label{};  // file stem: "<label>v.txt", "<label>o.txt"
  Level level{};                        // its topic level
  LabelInfo info{};                     // kind, ROM id or S0 key, model
  Reading reading{};                    // latest values
  bool has_reading = false;             // reading holds a good file's values
  MonoMs updated = 0;                   // when the logger last rewrote the value file
  timespec mtime{};                     // modification time of the file last read
  bool available = false;               // rewritten within --stale-after
  int sent_available = -1;              // availability last published: 1, 0, -1 none
  bool discovery_sent = false;          // discovery configs published on this connection
  bool attributes_sent = false;         // attributes published on this connection
  char switch_state = 0;                // '1'/'0' from its control file; 0: none
  char sent_switch = 0;                 // switch state last published; 0: none
};

class BridgeState {
 public:
  // `outdir_fd`: the output directory; `prom_dir_fd` and `prom_name`: where
  // the textfile goes (-1: none).
  BridgeState(const BridgeOptions &opt, const char *version, int outdir_fd, int prom_dir_fd,
              const char *prom_name, Sink &sink);

  // Reads the configuration file; when its text changed (or `force`), labels
  // are looked up anew, bad files may be reported again, and the output
  // directory is read again. A file that cannot be read keeps the last
  // configuration (empty at start), with a log line.
  void load_config(Now now, bool force = false);
  // Reads every value and control file of the output directory.
  void rescan(Now now);
  // The output directory is gone (`fd` -1: the status says offline) or open
  // again as `fd` (status online, every file read again). The caller owns fd.
  void set_outdir(int fd, Now now);
  bool outdir_open() const { return outdir_fd_ >= 0; }
  // A file of the output directory was written and closed, or moved in.
  void on_file(const char *name, Now now);

  // The broker accepted the connection: publish everything.
  void on_connected();
  // The connection is gone.
  void on_disconnected();
  // A message arrived on a subscribed topic: switch commands, and the
  // retained availability and discovery topics the broker holds.
  void on_message(const char *topic, const void *payload, std::size_t len, bool retain);

  // Staleness and the textfile; returns when it wants to run next.
  MonoMs service(Now now);

  const std::array<LabelEntry, kMaxLabels> &entries() const { return entries_; }
  const ConfigModel &config() const { return config_; }
  // The textfile as it would be written now.
  void format_prom(Now now, std::string &out) const;

 private:
  LabelEntry *find_label(const char *label);
  LabelEntry *find_level(const char *level);
  void handle_file(const char *name, Now now, bool scanning);
  LabelEntry *add_label(const char *name, const char *stem);
  void read_value(LabelEntry &e, const char *name, Now now, bool scanning);
  void read_control(LabelEntry &e);
  void publish_entry(LabelEntry &e, bool values);
  void publish_discovery(LabelEntry &e);
  void publish_text(const char *leaf, const LabelEntry &e, const char *payload, int qos);
  void retract(LabelEntry &e);
  // Empties the retained discovery configs of the entities of `from`: all of
  // them, or with `keep` only those that a device read as `keep` lacks.
  void remove_entities(const LabelInfo &from, const LabelInfo *keep);
  // The configuration changed: labels whose device now has another label
  // move there, the others that are gone are retracted.
  void follow_config();
  void relabel(LabelEntry &e, const std::array<char, kLabelSize> &label, const LabelInfo &info);
  // Clears every retained topic a label with this level may have.
  void clear_level(const char *level);
  // True when a label of the configuration has this topic level.
  bool level_in_config(const char *level) const;
  void on_retained_available(const char *level, const char *payload, std::size_t len);
  void on_retained_config(const char *topic, const void *payload, std::size_t len);
  void publish_status();
  DiscoveryScope scope() const;
  void write_prom(Now now);
  // True the first time a file name is reported bad (until the configuration
  // changes): each bad file gets one log line, not one per event.
  bool first_complaint(const char *name);

  const BridgeOptions &opt_;                        // the command line
  const char *version_;                             // the bridge's version, for discovery
  int outdir_fd_;                                   // the output directory
  int prom_dir_fd_;                                 // the textfile's directory; -1: no textfile
  const char *prom_name_;                           // the textfile's name in it
  Sink &sink_;                                      // where messages go
  ConfigModel config_;                              // the configuration in use
  std::array<char, kConfigMax + 1> read_buf_{};     // the configuration file as read
  std::array<LabelEntry, kMaxLabels> entries_{};    // the labels followed
  std::array<std::uint64_t, kMaxComplaints> complaints_{};  // hashes of reported names
  std::size_t complaint_count_ = 0;                 // entries used in complaints_
  bool complaints_full_ = false;                    // the table overflowed (said once)
  bool config_loaded_ = false;                      // a configuration (maybe empty) is in use
  bool prom_dirty_ = true;                          // values changed since the last textfile
  MonoMs prom_written_ = 0;                         // when the textfile was last written
  bool prom_ever_written_ = false;                  // prom_written_ is meaningful
  bool prom_failed_ = false;                        // last textfile write failed (reported once)
  std::string prom_text_;                           // the textfile's text, kept to reuse its buffer
};

}  // namespace bridge
