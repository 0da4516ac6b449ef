#include "text_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "failure.h"

namespace ravel {

// Blocks of 256 KiB keep system calls rare on listings of hundreds of megabytes while the memory
// held stays small and does not grow with the input. They also stay in the processor's cache,
// and the page cache takes them faster and more evenly than writes of a megabyte or more
// (docs/performance.md).
constexpr std::size_t block_size = std::size_t{1} << 18;

LineReader::LineReader(std::string display_name) : name_(std::move(display_name)) {}

LineReader::LineReader(const std::filesystem::path& path, std::string display_name)
    : file_(path, NativeFile::Mode::read, display_name),
      buffer_(new char[block_size]),
      capacity_(block_size),
      name_(std::move(display_name)) {}

LineReader::LineReader(BytePipe& pipe, std::string display_name)
    : pipe_(&pipe),
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
    std::unique_ptr<char[]> bigger(new char[capacity_ * 2]);
    std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ *= 2;
  }
  const std::size_t scanned = end_;
  char* const room = buffer_.get() + end_;
  const std::size_t got = pipe_ != nullptr  ? pipe_->take(room, capacity_ - end_)
                          : file_.is_open() ? file_.read(room, capacity_ - end_)
                                            : 0;
  if (got == 0) {
    exhausted_ = true;
    return false;
  }
  end_ += got;
  line_ends_ = SeparatorScanner(buffer_.get() + scanned, buffer_.get() + end_, '\n');
  return true;
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
  throw std::move(Failure(ErrorCode::input_past_end, "no line to read")
                      .in_file(name_)
                      .at_line(line_number_ + 1));
}

TextWriter::TextWriter(const std::filesystem::path& path, std::string display_name,
                       NativeFile::Mode mode)
    : file_(path, mode, display_name),
      buffer_(new char[block_size]),
      capacity_(block_size),
      name_(std::move(display_name)) {}

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
      std::unique_ptr<char[]> bigger(new char[size]);
      buffer_ = std::move(bigger);
      capacity_ = size;
    }
  }
  return buffer_.get() + used_;
}

// The line is made in the buffer in one piece.
void TextWriter::write_joined(std::span<const std::string_view> texts) {
  std::size_t size = texts.empty() ? 2 : texts.size() + 1;  // The commas, and CR LF.
  for (const std::string_view text : texts) size += text.size();
  char* p = reserve(size);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) *p++ = ',';
    p = put_text(p, texts[i]);
  }
  p[0] = '\r';
  p[1] = '\n';
  used_ += size;
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
  if (pipe_ != nullptr) pipe_->put(data, size);
}

void TextWriter::sync() {
  flush();
  if (file_.is_open()) file_.sync();
}

void TextWriter::close() {
  flush();
  if (file_.is_open()) file_.close();
}

std::filesystem::path temporary_path(const std::filesystem::path& target) {
  std::string name = utf8_from_path(target.filename());
  name.insert(0, 1, '.');
  name += ".tmp";
  return target.parent_path() / path_from_utf8(name);
}

// Whether a file of a folder is one that a run made under a temporary name: ".<name>.tmp", and
// ".<name>.<process id>.tmp" or ".out1.txt.<process id>.groups" from earlier versions.
static bool is_temporary_name(std::string_view name) {
  return name.size() > 1 && name[0] == '.' &&
         (name.ends_with(".tmp") || (name.starts_with(".out1.txt.") && name.ends_with(".groups")));
}

FolderLock hold_folder(const std::filesystem::path& folder) {
  FolderLock lock(folder);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (is_temporary_name(utf8_from_path(entry.path().filename())) &&
        entry.is_regular_file(error)) {
      remove_file_quietly(entry.path());
    }
  }
  return lock;
}

ReplacingFile::ReplacingFile(const std::filesystem::path& target, std::string display_name)
    : target_(target), temporary_(temporary_path(target)), name_(std::move(display_name)) {
  writer_.emplace(temporary_, name_);
}

ReplacingFile::~ReplacingFile() {
  if (committed_) return;
  try {
    writer_->close();
  } catch (...) {
  }
  remove_file_quietly(temporary_);
}

void ReplacingFile::finish() {
  writer_->sync();
  writer_->close();
}

// The content is synced before the rename, and the folder after it: a rename that reached the
// disk before the content would leave an empty or partial file under the name after a power cut.
void ReplacingFile::commit() {
  finish();
  replace_file(temporary_, target_, name_);
  committed_ = true;
  sync_folder(target_.parent_path());
}

std::string read_first_line(const std::filesystem::path& path, const std::string& display_name) {
  LineReader reader(path, display_name);
  return std::string(reader.next());
}

}  // namespace ravel
