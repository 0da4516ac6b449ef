#include "pipeline/text_file.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "pipeline/failure.h"
#include "pipeline/file_names.h"

namespace ravel {

// Blocks of 256 KiB keep system calls rare on listings of hundreds of megabytes while the memory
// held stays small and does not grow with the input. They also stay in the processor's cache,
// and the page cache takes them faster and more evenly than writes of a megabyte or more
// (docs/performance.md).
constexpr std::size_t block_size = std::size_t{1} << 18;

LineReader::LineReader(std::string display_name) : name_(std::move(display_name)) {}

LineReader::LineReader(const Folder& folder, std::string_view name, std::string_view display_name)
    : file_(folder, name, NativeFile::Mode::read, display_name),
      buffer_(new char[block_size]),
      capacity_(block_size),
      name_(display_name.empty() ? name : display_name) {}

LineReader::LineReader(const std::filesystem::path& path, std::string display_name)
    : file_(path, display_name),
      buffer_(new char[block_size]),
      capacity_(block_size),
      name_(std::move(display_name)) {}

LineReader LineReader::from_text(std::string text, std::string display_name) {
  LineReader reader(std::move(display_name));
  reader.capacity_ = std::max<std::size_t>(text.size(), 1);
  reader.buffer_.reset(new char[reader.capacity_]);
  text.copy(reader.buffer_.get(), text.size());
  reader.end_ = text.size();
  reader.exhausted_ = true;
  const char* const start = reader.buffer_.get();
  reader.line_ends_ = SeparatorScanner(start, start + reader.end_, '\n');
  return reader;
}

// Moves the unread rest to the front, grows the buffer when a single line fills it, and reads
// more; the scanner goes on where it stopped. False when the file has nothing more to give.
bool LineReader::fill() {
  if (exhausted_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == capacity_) {
    // The buffer holds one line and no line end: the line is longer than the buffer.
    if (capacity_ > max_line_size) {
      throw Failure(ErrorCode::out_of_memory, "the line is longer than " +
                                                  std::to_string(max_line_size) +
                                                  " bytes, the most a line may hold")
          .in_file(name_)
          .at_line(line_number_ + 1);
    }
    const std::size_t grown = std::min(capacity_ * 2, max_line_size + block_size);
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ = grown;
  }
  const std::size_t scanned = end_;
  char* const room = buffer_.get() + end_;
  const std::size_t got = file_.is_open() ? file_.read(room, capacity_ - end_) : 0;
  if (got == 0) {
    exhausted_ = true;
    return false;
  }
  end_ += got;
  line_ends_ = SeparatorScanner(buffer_.get() + scanned, buffer_.get() + end_, '\n');
  return true;
}

std::optional<FileIdentity> LineReader::identity() const {
  if (!file_.is_open()) return std::nullopt;
  return file_.identity();
}

bool LineReader::at_end() { return begin_ == end_ && !fill(); }

std::optional<std::string_view> LineReader::try_next() {
  for (;;) {
    if (const char* newline = line_ends_.next()) {
      const char* start = buffer_.get() + begin_;
      std::size_t length = static_cast<std::size_t>(newline - start);
      begin_ += length + 1;
      if (length > 0 && start[length - 1] == '\r') --length;
      ++line_number_;
      return std::string_view(start, length);
    }
    if (!fill()) {
      if (begin_ == end_) return std::nullopt;
      const std::string_view line(buffer_.get() + begin_, end_ - begin_);
      begin_ = end_;
      ++line_number_;
      return line;
    }
  }
}

std::string_view LineReader::next() {
  if (auto line = try_next()) return *line;
  throw Failure(ErrorCode::input_past_end, "no line to read")
      .in_file(name_)
      .at_line(line_number_ + 1);
}

TextWriter::TextWriter(const Folder& folder, std::string_view name, NativeFile::Mode mode,
                       std::string_view display_name)
    : file_(folder, name, mode, display_name),
      buffer_(new char[block_size]),
      capacity_(block_size),
      name_(display_name.empty() ? name : display_name) {}

TextWriter::TextWriter(std::string& sink)
    : sink_(&sink), buffer_(new char[4096]), capacity_(4096), name_("text") {}

TextWriter::~TextWriter() {
  // Keeps what the run wrote before it failed; a failure to do so has nowhere to go.
  try {
    flush();
  } catch (...) {
  }
}

void TextWriter::write_slow(std::string_view text) {
  flush();
  if (text.size() < capacity_) {
    text.copy(buffer_.get(), text.size());
    used_ = text.size();
  } else {
    write_out(text.data(), text.size());
  }
}

char* TextWriter::reserve(std::size_t size) {
  if (size > capacity_ - used_) {
    flush();
    if (size > capacity_) {
      buffer_.reset(new char[size]);
      capacity_ = size;
    }
  }
  return buffer_.get() + used_;
}

void TextWriter::flush() {
  if (used_ == 0) return;
  write_out(buffer_.get(), std::exchange(used_, 0));
}

void TextWriter::write_out(const char* data, std::size_t size) {
  if (sink_ != nullptr) {
    sink_->append(data, size);
  } else if (file_.is_open()) {
    file_.write(data, size);
  }
}

void TextWriter::sync() {
  flush();
  if (file_.is_open()) file_.sync();
}

void TextWriter::close() {
  flush();
  if (file_.is_open()) file_.close();
}

std::string temporary_name(std::string_view name) {
  static constexpr char digits[] = "0123456789abcdef";
  std::random_device random;
  std::string temporary(1, '.');
  temporary.append(name).push_back('.');
  for (int i = 0; i < 4; ++i) {
    auto bits = random();
    for (int j = 0; j < 4; ++j, bits >>= 4) temporary += digits[bits & 15];
  }
  return temporary + ".tmp";
}

// Whether `name` is, character for character, a name that a run makes for a file only while it
// runs: the temporary name of the job marker, of a day's report, of Process' group rows or of
// the files --history keeps, as
// temporary_name() makes it (".jobid.txt.0123456789abcdef.tmp"), and as earlier versions made
// it (".jobid.txt.tmp", ".jobid.txt.<process id>.tmp", ".out1.txt.<process id>.groups").
static bool is_leftover_name(std::string_view name) {
  auto all_of = [](std::string_view text, auto predicate) {
    return !text.empty() && std::all_of(text.begin(), text.end(), predicate);
  };
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  auto is_hex = [&](char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); };
  auto is_made_name = [](std::string_view text) {
    static constexpr std::string_view made[] = {
        job_marker_name,     scratch_file_name, history_file_name, clients_file_name,
        dashboard_file_name, metrics_file_name, pending_file_name};
    return std::find(std::begin(made), std::end(made), text) != std::end(made) ||
           is_day_report_name(text);
  };
  if (!name.starts_with('.')) return false;
  name.remove_prefix(1);
  if (name.starts_with("out1.txt.") && name.ends_with(".groups")) {
    return all_of(name.substr(9, name.size() - 9 - 7), is_digit);
  }
  if (!name.ends_with(".tmp")) return false;
  name.remove_suffix(4);
  if (is_made_name(name)) return true;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || !is_made_name(name.substr(0, dot))) return false;
  const std::string_view tag = name.substr(dot + 1);
  return (tag.size() == 16 && all_of(tag, is_hex)) || all_of(tag, is_digit);
}

FolderLock hold_folder(const Folder& folder, OwnerRule rule) {
  folder.check_owner(rule);
  return FolderLock(folder);
}

void remove_leftovers(const Folder& folder) {
  for (const std::string& name : folder.file_names()) {
    if (is_leftover_name(name)) folder.remove_own_file(name);
  }
}

ReplacingFile::ReplacingFile(const Folder& folder, std::string name)
    : folder_(folder), name_(std::move(name)), temporary_(temporary_name(name_)) {
  writer_.emplace(folder_, temporary_, NativeFile::Mode::create_new, name_);
  writer_->file().take_mode_of(folder_, name_);
  identity_ = writer_->file().identity();
}

ReplacingFile::~ReplacingFile() {
  if (committed_) return;
  try {
    writer_->close();
  } catch (...) {
  }
  folder_.remove_own_file(temporary_);
}

void ReplacingFile::finish() {
  writer_->sync();
  writer_->close();
}

// The content is synced before the rename, and the folder after it: a rename that reached the
// disk before the content would leave an empty or partial file under the name after a power cut.
void ReplacingFile::commit() {
  finish();
  folder_.rename(temporary_, name_, name_);
  committed_ = true;
  folder_.sync();
}

std::string read_first_line(const Folder& folder, std::string_view name) {
  LineReader reader(folder, name);
  return std::string(reader.next());
}

}  // namespace ravel
