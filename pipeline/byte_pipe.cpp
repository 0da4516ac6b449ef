#include "byte_pipe.h"

#include <algorithm>
#include <cstring>

namespace ravel {

// One writer and one reader. The bytes are copied outside the lock: the free part of the ring
// belongs to the writer and the held part to the reader until they say how far they got.

BytePipe::BytePipe(std::size_t capacity) : ring_(new char[capacity]), capacity_(capacity) {}

void BytePipe::put(const char* data, std::size_t size) {
  std::unique_lock lock(mutex_);
  while (size > 0) {
    changed_.wait(lock, [this] { return reader_gone_ || held_ < capacity_; });
    if (reader_gone_) return;
    const std::size_t free_start = (first_ + held_) % capacity_;
    const std::size_t piece = std::min({size, capacity_ - held_, capacity_ - free_start});
    lock.unlock();
    std::memcpy(ring_.get() + free_start, data, piece);
    lock.lock();
    held_ += piece;
    data += piece;
    size -= piece;
    changed_.notify_all();
  }
}

void BytePipe::finish() {
  const std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

void BytePipe::abandon() {
  const std::lock_guard lock(mutex_);
  abandoned_ = true;
  changed_.notify_all();
}

std::size_t BytePipe::take(char* data, std::size_t size) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return held_ > 0 || finished_ || abandoned_; });
  if (abandoned_) return 0;
  const std::size_t start = first_;
  const std::size_t piece = std::min({size, held_, capacity_ - start});
  lock.unlock();
  std::memcpy(data, ring_.get() + start, piece);
  lock.lock();
  if (abandoned_) return 0;
  first_ = (start + piece) % capacity_;
  held_ -= piece;
  changed_.notify_all();
  return piece;
}

void BytePipe::stop_reading() {
  const std::lock_guard lock(mutex_);
  reader_gone_ = true;
  changed_.notify_all();
}

}  // namespace ravel
