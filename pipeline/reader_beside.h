#pragma once
// A step that reads a file on a thread of its own while another step writes it: the writer's
// TextWriter copies each written piece into pipe(), the step reads it as the file's lines.

#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "byte_pipe.h"
#include "text_file.h"

namespace ravel {

class ReaderBeside {
 public:
  // Starts `step` on the lines of the file named `file_name` as they come.
  ReaderBeside(std::string file_name, std::function<void(LineReader&)> step);
  // A writer that did not finish() failed: the step sees the end of the file at once, and how
  // it ends is not heard.
  ~ReaderBeside();

  BytePipe& pipe() { return pipe_; }
  // Once the writer has written the whole file: waits for the step to end, and hands back its
  // failure, if it failed.
  std::exception_ptr finish();

 private:
  BytePipe pipe_;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace ravel
