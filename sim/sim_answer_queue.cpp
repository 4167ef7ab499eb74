// The stand-in's queue of answers waiting for their time, written to the terminal when due.
#include "sim_answer_queue.h"

#include <unistd.h>

#include <cerrno>

namespace adaptersim {

Batch *AnswerQueue::prepare(std::int64_t due_ms) {
  if (full()) return nullptr;
  Slot &s = slots_[(head_ + count_) % slots_.size()];
  s.batch.clear();
  s.sent = 0;
  s.due_ms = due_ms;
  return &s.batch;
}

bool AnswerQueue::commit() {
  if (full() || slots_[(head_ + count_) % slots_.size()].batch.empty()) return false;
  ++count_;
  return true;
}

void AnswerQueue::pop() {
  slots_[head_].batch.clear();
  head_ = (head_ + 1) % slots_.size();
  --count_;
}

bool AnswerQueue::flush_due(int fd, std::int64_t now_ms) {
  bool wrote = false;
  while (!empty() && slots_[head_].due_ms <= now_ms) {
    Slot &s = slots_[head_];
    const std::string_view bytes = s.batch.bytes();
    while (s.sent < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + s.sent, bytes.size() - s.sent);
      if (n > 0) {
        s.sent += static_cast<std::size_t>(n);
        wrote = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return wrote;
      s.sent = bytes.size();  // the terminal refuses it: drop the answer
    }
    pop();
  }
  return wrote;
}

}  // namespace adaptersim
