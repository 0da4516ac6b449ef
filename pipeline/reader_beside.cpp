#include "reader_beside.h"

#include <utility>

namespace ravel {

ReaderBeside::ReaderBeside(std::string file_name, std::function<void(LineReader&)> step)
    : thread_([this, name = std::move(file_name), step = std::move(step)] {
        try {
          LineReader lines(pipe_, name);
          step(lines);
        } catch (...) {
          failure_ = std::current_exception();
        }
        // Whatever the step left unread, the writer must not wait for it.
        pipe_.stop_reading();
      }) {}

ReaderBeside::~ReaderBeside() {
  if (!thread_.joinable()) return;
  pipe_.abandon();
  thread_.join();
}

std::exception_ptr ReaderBeside::finish() {
  pipe_.finish();
  thread_.join();
  return failure_;
}

}  // namespace ravel
