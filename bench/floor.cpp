// The floor of the whole-program benchmark: reads a job listing and writes a file of a given
// size as it goes, the way the conversion reads the listing and writes the job table, without
// looking at a single field. No conversion can take less time, so bench/run.sh sets the
// programs against it.
//
//   ravel-floor LISTING OUTPUT BYTES

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/command_line.h"

namespace ravel {
namespace {

// The size of the programs' reading and writing buffers, so that the floor makes the same
// system calls they make.
constexpr std::int64_t block_size = 256 * 1024;

[[noreturn]] void fail(std::string_view path, std::string_view what) {
  std::fprintf(stderr, "ravel-floor: error: %.*s: %.*s\n", static_cast<int>(path.size()),
               path.data(), static_cast<int>(what.size()), what.data());
  std::exit(1);
}

[[noreturn]] void fail_system(std::string_view path) { fail(path, std::strerror(errno)); }

void write_all(int fd, const char* data, std::int64_t size, std::string_view path) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, static_cast<std::size_t>(size));
    if (written < 0) {
      if (errno == EINTR) continue;
      fail_system(path);
    }
    data += written;
    size -= written;
  }
}

// How much of the output is due once `read` bytes of the listing are in: the same share of the
// output as of the listing, all of it at the end.
std::int64_t output_due(std::int64_t read, std::int64_t listing_bytes, std::int64_t output_bytes) {
  if (read >= listing_bytes) return output_bytes;
  const double share = static_cast<double>(read) / static_cast<double>(listing_bytes);
  return std::min(output_bytes,
                  static_cast<std::int64_t>(share * static_cast<double>(output_bytes)));
}

// Reads the listing in blocks and, after each block, puts its share of the output into the
// output buffer, writing the buffer whenever it is full. The output is emptied at open, as a
// table replaced by O_TRUNC is, and is never synced.
void copy_in_proportion(const char* listing_path, const char* output_path,
                        std::int64_t output_bytes) {
  const int input = ::open(listing_path, O_RDONLY | O_CLOEXEC);
  if (input < 0) fail_system(listing_path);
  struct stat info {};
  if (::fstat(input, &info) != 0) fail_system(listing_path);
  const int output = ::open(output_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (output < 0) fail_system(output_path);

  std::vector<char> in(block_size);
  std::vector<char> out(block_size);
  std::int64_t read_total = 0;
  std::int64_t produced = 0;
  std::int64_t filled = 0;
  for (;;) {
    const ssize_t got = ::read(input, in.data(), in.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      fail_system(listing_path);
    }
    read_total += got;
    // A listing that grew while it was read still ends the output at its size.
    const std::int64_t due =
        got == 0 ? output_bytes : output_due(read_total, info.st_size, output_bytes);
    while (produced < due) {
      const std::int64_t take = std::min(due - produced, block_size - filled);
      // The bytes just read stand in for the picked fields: they pass through the processor as
      // a table's bytes do, and which bytes they are costs nothing.
      std::memcpy(out.data() + filled, in.data(), static_cast<std::size_t>(std::min(take, got)));
      filled += take;
      produced += take;
      if (filled == block_size) {
        write_all(output, out.data(), filled, output_path);
        filled = 0;
      }
    }
    if (got == 0) break;
  }
  write_all(output, out.data(), filled, output_path);
  if (::close(output) != 0) fail_system(output_path);
  ::close(input);
}

}  // namespace
}  // namespace ravel

int main(int argc, char** argv) {
  constexpr const char* usage = "Usage: ravel-floor LISTING OUTPUT BYTES\n";
  ravel::ArgumentReader arguments(argc, argv);
  if (arguments.flag("--help")) {
    std::fputs(usage, stdout);
    return 0;
  }
  const std::optional<std::string> listing = arguments.word();
  const std::optional<std::string> output = arguments.word();
  const std::optional<std::string> bytes = arguments.word();
  std::int64_t output_bytes = -1;
  if (bytes) {
    const auto [end, error] =
        std::from_chars(bytes->data(), bytes->data() + bytes->size(), output_bytes);
    if (error != std::errc() || end != bytes->data() + bytes->size()) output_bytes = -1;
  }
  if (!listing || !output || output_bytes < 0 || !arguments.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  ravel::copy_in_proportion(listing->c_str(), output->c_str(), output_bytes);
  return 0;
}
