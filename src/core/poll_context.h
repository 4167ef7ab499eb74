// The one record that holds all state of the running logger, and its constants.
//
// Every module is a set of plain procedures over this record. It lives for the
// whole process (one static object in main), is never reallocated, and all of
// its buffers are fixed-size: nothing is allocated after start-up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace core {

// States of the poll cycle.
constexpr int STATE_LOAD = 0;       // read configuration, clear table, search the bus
constexpr int STATE_ENUMERATE = 1;  // collect the answers of the bus search
constexpr int STATE_POLL = 2;       // poll every entry once, last to first

// Markers of the configuration-write field `eep`.
constexpr int EEP_NONE = -99;  // no configuration write yet in this cycle
constexpr int EEP_DONE = -98;  // the write of this cycle has been logged (or given up)

// Results of the frame check, kept in `crc`.
constexpr int CRC_BAD = -99;
constexpr int CRC_OK = 1;

constexpr std::size_t kLineSize = 256;        // LineBuffer: 255 bytes of a line + NUL
constexpr std::size_t kLineReadMax = 255;     // most bytes one read takes
constexpr std::size_t kConfigMax = 100000;    // most characters of the configuration
constexpr std::size_t kConfigSize = kConfigMax + 1;
constexpr std::size_t kTableEntries = 64;     // entries of the device table
constexpr std::size_t kIdSize = 17;           // 16 characters of an id or name + NUL
constexpr std::size_t kIdMax = kIdSize - 1;
constexpr std::size_t kQvmSize = 36;          // model text: 35 characters + NUL
constexpr std::size_t kDirSize = 256;         // outdir and serial path buffers
constexpr std::size_t kSerialPathMax = 254;   // characters kept of the device argument
constexpr std::size_t kOutdirCopyMax = 253;   // characters kept of the outdir argument
// outdir (254) + longest stem (S0 name, 19) + longest suffix ("v.txt", 5) + NUL = 279.
constexpr std::size_t kPathSize = 288;
constexpr std::size_t kValueSize = 256;       // decoded value text
constexpr std::size_t kScratchSize = 68;      // control text, timestamps
constexpr std::size_t kS0NameSize = 20;       // S0 channel name: 19 characters + NUL
constexpr std::size_t kWriteLogSize = 36;     // configuration string of the last write
constexpr std::size_t kRxaSlots = 3;          // tokens kept of a line: rxa[0]..rxa[2]
constexpr int kRepollLimit = 10;              // repeated polls before a write is given up

using IdText = std::array<char, kIdSize>;

// Devices found by the last bus search, with their configured names.
struct DeviceTable {
  std::array<IdText, kTableEntries> ids;  // ROM id as received, or "S01"/"S02"
  std::array<IdText, kTableEntries> idn;  // name from the configuration; empty if none
};

// What the poll step remembers of one entry's control file between polls, so
// that a file it can only read, or cannot read at all, is reported once and
// its request carried out once rather than at every poll. It belongs to one
// version of the file: another inode or a newer change time (any write,
// chmod or chown) starts afresh, and so does a file that opens for writing.
struct ControlNote {
  std::uint64_t dev;      // identity of the version noted
  std::uint64_t ino;
  std::int64_t ctime_s;
  std::int64_t ctime_ns;
  unsigned said;          // status lines already printed for this version (bits)
  char stands_for;        // the rewrite that could not be made: the file reads as
                          // this character and a line end; NUL when none
};

struct PollContext {
  int state;          // STATE_LOAD, STATE_ENUMERATE or STATE_POLL
  int idi;            // next free entry while enumerating; entry polled while polling
  int idmax;          // entries filled by this cycle's enumeration
  int rxz;            // passes (~1 ms ticks) since the last handled line or poll
  int eep;            // EEP_NONE, EEP_DONE, or entry awaiting its configuration-write answer
  int crc;            // CRC_OK or CRC_BAD for the current data line
  int reset_pending;  // 1: a control file asked for a bus reset before the next search
  int debug;          // 1: option letter d, detailed traces and debug.txt
  int mode;           // 1: option letter l, first command "$L+"
  int quiet;          // 1: option letter q without d, no echo of commands, lines, names, values
  int fd;             // serial descriptor, open for the whole run
  int repolls;        // repeated polls of entry `eep` without an answer
  unsigned dropped;   // enumeration answers this cycle that found the table full
  unsigned write_errors;  // file writes this cycle that failed after their open
  int write_errno;        // errno of the first of them (0 when none failed)
  unsigned long cycles;         // poll cycles completed since start-up
  unsigned answers;             // data lines handled in this cycle's poll state
  unsigned bad_sums;            // of those, frames whose checksum did not match
  std::int64_t cycle_start_ms;  // monotonic clock (ms) when this cycle's load step began

  std::array<char, kLineSize> line;       // LineBuffer: command sent, then line received
  std::array<char *, kRxaSlots> rxa;      // tokens of the current line (point into line)
  char *tok_next;                         // where the next token of `line` is taken from
  DeviceTable table;                      // ids and idn
  std::array<char, kConfigSize> config;   // ConfigText: raw configuration, NUL-ended
  std::array<char, kQvmSize> qvm;         // model of the entry being polled; empty if none
  std::array<char, kDirSize> outdir;      // output directory, always ending in '/'
  std::array<char, kDirSize> serial_path; // serial device path
  std::array<char, kPathSize> path;       // scratch for every file name built
  std::array<char, kValueSize> value;     // decoded value text; empty means no value file
  std::array<char, kScratchSize> scratch; // control text, timestamps
  std::array<std::array<char, kS0NameSize>, 2> s0_names;  // file stems of S01 and S02
  std::array<char, kWriteLogSize> write_log;              // string sent by the last write
  std::array<char, kPathSize> write_error_path;  // path of this cycle's first failed write
  std::array<ControlNote, kTableEntries> control_notes;  // per entry, kept across cycles
};

// Puts the first values of a fresh context (all zero, then the start-up values).
void init_context(PollContext *ctx);

}  // namespace core
