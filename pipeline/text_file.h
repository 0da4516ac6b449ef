#pragma once
// The text-file service: single-byte text read a line at a time through a large buffer, and
// written with CR LF line ends through a large buffer. Bytes pass through unchanged.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pipeline/platform.h"
#include "pipeline/scanner.h"

namespace ravel {

// Reads lines without their terminator. A line ends at LF or CR LF; a lone CR is not a line end:
// it stays in the line, so stray CRs in a field never split a job. A last line without a
// terminator is a line; a file that ends with a terminator has no empty line after it.
class LineReader {
 public:
  // The longest line read: a longer one fails with "Out of memory" naming its file and line,
  // instead of taking memory without bound.
  static constexpr std::size_t max_line_size = std::size_t{64} << 20;

  // Opens a regular file of the folder for reading; a missing file fails with "File not found".
  LineReader(const Folder& folder, std::string_view name, std::string_view display_name = {});
  // Opens a file that lies outside the data folders, such as an update file the operator named.
  LineReader(const std::filesystem::path& path, std::string display_name);
  // Reads from text held in memory, for tests and small inputs.
  static LineReader from_text(std::string text, std::string display_name = "text");

  bool at_end();
  // The next line, valid until the next call of next() or at_end(). Reading past the last line
  // fails with "Input past end of file".
  std::string_view next();
  // Like next(), but std::nullopt after the last line.
  std::optional<std::string_view> try_next();

  // 1-based number of the line that next() returned last; 0 before the first.
  std::int64_t line_number() const { return line_number_; }
  const std::string& name() const { return name_; }
  // The identity of the file read; std::nullopt for text held in memory or a pipe.
  std::optional<FileIdentity> identity() const;

 private:
  LineReader(std::string display_name);
  bool fill();

  NativeFile file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // The line ends in buffer_ from begin_ to end_ that no line has used yet.
  SeparatorScanner line_ends_;
  bool exhausted_ = false;
  std::int64_t line_number_ = 0;
  std::string name_;
};

// Copies a text exactly and returns the end of the copy. Texts of up to 16 bytes, as fields
// mostly are, are copied by two fixed-size moves that may overlap, instead of a call: on a job
// table's line the calls would cost more than all the other work. Against a memcpy call for
// every text, this saves 12% of the daily run (a listing of 1,000,000 jobs, 5,000 of them new).
inline char* put_text(char* out, std::string_view text) {
  const char* const from = text.data();
  const std::size_t size = text.size();
  if (size >= 8 && size <= 16) {
    std::memcpy(out, from, 8);
    std::memcpy(out + size - 8, from + size - 8, 8);
  } else if (size >= 4 && size < 8) {
    std::memcpy(out, from, 4);
    std::memcpy(out + size - 4, from + size - 4, 4);
  } else if (size > 0 && size < 4) {
    out[0] = from[0];
    out[size / 2] = from[size / 2];
    out[size - 1] = from[size - 1];
  } else if (size > 16) {
    std::memcpy(out, from, size);
  }
  return out + size;
}

// The texts joined by commas and ended by CR LF, one line of a comma-separated file: its size,
// and the line written at `out`, returning its end.
inline std::size_t joined_size(std::span<const std::string_view> texts) {
  std::size_t size = texts.empty() ? 2 : texts.size() + 1;  // The commas, and CR LF.
  for (const std::string_view text : texts) size += text.size();
  return size;
}
inline char* put_joined(char* out, std::span<const std::string_view> texts) {
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) *out++ = ',';
    out = put_text(out, texts[i]);
  }
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

// Buffered writer of single-byte text. What is written stays written even when the run fails
// later: the destructor flushes what is buffered. Only close() reports a failing flush or close.
class TextWriter {
 public:
  // Opens a file of the folder as `mode` says: by default creates it, or empties an existing
  // one; Mode::append adds to its end.
  TextWriter(const Folder& folder, std::string_view name,
             NativeFile::Mode mode = NativeFile::Mode::create, std::string_view display_name = {});
  // Writes into a string held by the caller, for tests.
  explicit TextWriter(std::string& sink);
  // Drops what is written once it leaves the buffer, as a null device would: for benchmarks.
  static TextWriter discarding() { return TextWriter(); }

  ~TextWriter();

  void write(std::string_view text) {
    if (text.size() <= capacity_ - used_) {
      used_ = static_cast<std::size_t>(put_text(buffer_.get() + used_, text) - buffer_.get());
      return;
    }
    write_slow(text);
  }
  // Writes the text followed by CR LF.
  void write_line(std::string_view text) {
    write(text);
    write(std::string_view("\r\n"));
  }
  // Writes the texts joined by commas, then CR LF: one line of a comma-separated file.
  void write_joined(std::span<const std::string_view> texts) {
    char* const room = reserve(joined_size(texts));
    used_ += static_cast<std::size_t>(put_joined(room, texts) - room);
  }
  // Room for `size` bytes written straight into the buffer; commit them with advance().
  char* reserve(std::size_t size);
  void advance(std::size_t size) { used_ += size; }

  void flush();
  void sync();
  void close();
  const std::string& name() const { return name_; }
  const NativeFile& file() const { return file_; }

 private:
  TextWriter() : buffer_(new char[1 << 18]), capacity_(1 << 18), name_("null") {}
  void write_slow(std::string_view text);
  void write_out(const char* data, std::size_t size);

  NativeFile file_;
  std::string* sink_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::string name_;
};

// A fresh hidden name under which a file is made before it takes its own, beside it:
// ".<name>.<16 hex digits>.tmp". The digits are random, so that nobody can plant a link or a
// file at the name in advance.
std::string temporary_name(std::string_view name);

// Holds the folder for this run (FolderLock), after making sure that `rule` lets the run work
// in it. Another run holding the folder fails with "Permission denied".
FolderLock hold_folder(const Folder& folder, OwnerRule rule);

// Removes the temporary files that runs killed before their end left in the folder: regular
// files of the run's user whose names are exactly those that runs make, nothing else.
void remove_leftovers(const Folder& folder);

// An output file that is written under a temporary name and takes its own name only on
// commit(), replacing an earlier file in one step, whose permissions and owner it takes over.
// Until then, and after a failure, the earlier file stays as it was and the temporary file is
// deleted.
class ReplacingFile {
 public:
  ReplacingFile(const Folder& folder, std::string name);
  ~ReplacingFile();

  TextWriter& writer() { return *writer_; }
  const std::string& name() const { return name_; }
  const std::string& temporary() const { return temporary_; }
  // The file being written, which keeps its identity when it takes its name.
  const FileIdentity& identity() const { return identity_; }
  // Puts the whole content on the disk, still under the temporary name.
  void finish();
  // Finishes the file, gives it its name and makes the new name durable: once this returns, a
  // power cut leaves the new file under its name, whole.
  void commit();

 private:
  const Folder& folder_;
  std::string name_;
  std::string temporary_;
  std::optional<TextWriter> writer_;
  FileIdentity identity_;
  bool committed_ = false;
};

// The first line of a file of the folder. A missing file fails with "File not found", a file
// without any line with "Input past end of file".
std::string read_first_line(const Folder& folder, std::string_view name);

}  // namespace ravel
