#pragma once
// Bytes handed from a step that writes a file to a step that reads it, running beside each
// other: the writer puts each piece it has written to the file, the reader takes them in order
// and so sees the file's content without waiting for the writer to end, or reading it back.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace ravel {

class BytePipe {
 public:
  // Holds at most `capacity` bytes that the reader has not taken yet.
  explicit BytePipe(std::size_t capacity = std::size_t{1} << 20);

  // Writer's side. Waits while the pipe is full; once the reader has stopped, drops the bytes.
  void put(const char* data, std::size_t size);
  // The writer has put everything: the reader takes the rest and then sees the end.
  void finish();
  // The writer failed: the reader sees the end at once, what it has not taken is dropped.
  void abandon();

  // Reader's side. Up to `size` bytes, waiting until there are some; 0 at the end.
  std::size_t take(char* data, std::size_t size);
  // The reader takes nothing more: the writer no longer waits for it.
  void stop_reading();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<char[]> ring_;
  std::size_t capacity_;
  std::size_t first_ = 0;  // Where the oldest byte not taken is.
  std::size_t held_ = 0;   // Bytes not taken.
  bool finished_ = false;
  bool abandoned_ = false;
  bool reader_gone_ = false;
};

}  // namespace ravel
