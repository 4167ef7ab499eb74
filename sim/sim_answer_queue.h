// Answers of the stand-in waiting for their due time and for the terminal to take them.
//
// Every command's answer lines (one Batch) get a due time, the time the command
// arrived plus --delay-ms, and leave in the order the commands came, as on a
// serial line: an answer never overtakes an earlier one. The queue has a fixed
// number of slots; when the logger stops reading, or more commands than slots
// arrive within the delay, it fills and further answers are lost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim_adapter.h"

namespace adaptersim {

constexpr std::size_t kAnswerSlots = 16;  // answers waiting at most

class AnswerQueue {
 public:
  // No answer waiting.
  bool empty() const { return count_ == 0; }
  // Every slot holds an answer: the next one has no room.
  bool full() const { return count_ == slots_.size(); }
  // Answers waiting.
  std::size_t size() const { return count_; }

  // Due time (ms) of the oldest answer; only when not empty().
  std::int64_t next_due() const { return slots_[head_].due_ms; }

  // The free slot for the next answer, cleared and due at `due_ms`; the
  // caller writes the answer lines into it and then calls commit(). Null
  // when every slot holds an answer: the answer has no room and is lost.
  Batch *prepare(std::int64_t due_ms);

  // Queues the prepared answer, unless it holds no line (a command that is
  // not answered takes no slot). True when it was queued.
  bool commit();

  // Writes to `fd` every answer due at `now_ms` (due time <= now), oldest
  // first, and removes each once it is written whole. Stops at the first
  // answer not yet due, or when the descriptor takes no more (EAGAIN): the
  // rest of that answer goes on the next call. An answer the descriptor
  // refuses with any other error is dropped. True when any byte was written.
  bool flush_due(int fd, std::int64_t now_ms);

 private:
  struct Slot {
    std::int64_t due_ms = 0;  // monotonic ms at which the answer may leave
    std::size_t sent = 0;     // bytes of the batch already written
    Batch batch;              // the answer lines
  };

  void pop();

  std::array<Slot, kAnswerSlots> slots_{};
  std::size_t head_ = 0;   // index of the oldest answer
  std::size_t count_ = 0;  // answers waiting
};

}  // namespace adaptersim
