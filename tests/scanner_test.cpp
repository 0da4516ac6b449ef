#include "pipeline/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/fields.h"
#include "pipeline/text_file.h"
#include "tests/plain_text.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

// Texts made mostly of separators and of the bytes next to them in value, so that every block
// holds several and off-by-one comparisons show; bytes above 0x7F test signed comparisons.
std::string random_text(std::mt19937& random, std::size_t size) {
  static constexpr char alphabet[] = {',', ',', '\n', '\r', '+', '-', 'a', ' ', '\x80', '\xFF'};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
  std::string text(size, ' ');
  for (char& c : text) c = alphabet[pick(random)];
  return text;
}

std::vector<std::size_t> naive_positions(std::string_view text, char separator) {
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == separator) positions.push_back(i);
  }
  return positions;
}

TEST(scanner_test, block_masks_agree_with_the_portable_reading) {
  std::mt19937 random(7);
  std::vector<std::string> blocks = {std::string(64, ','), std::string(64, 'x'),
                                     std::string(64, '\xAC')};
  for (int i = 0; i < 2000; ++i) blocks.push_back(random_text(random, 64));
  for (const std::string& block : blocks) {
    for (const char separator : {',', '\n', '\xAC'}) {
      const std::uint64_t portable = separator_mask_portable(block.data(), separator);
      std::uint64_t expected = 0;
      for (const std::size_t i : naive_positions(block, separator)) expected |= 1ull << i;
      EXPECT_EQ(portable, expected);
#ifdef RAVEL_SCANNER_SSE2
      EXPECT_EQ(separator_mask_sse2(block.data(), separator), portable);
#endif
    }
  }
}

// Every length around the 64-byte blocks, from every start within a block, so that the short
// block at a text's end and texts that start off a block boundary are all met.
TEST(scanner_test, separators_come_in_order_whatever_the_length_and_start) {
  std::mt19937 random(11);
  const std::string text = random_text(random, 400);
  for (std::size_t start = 0; start < 64; ++start) {
    for (std::size_t size = 0; start + size <= text.size(); size += 1 + size / 16) {
      const std::string_view piece(text.data() + start, size);
      SeparatorScanner scanner(piece, ',');
      std::vector<std::size_t> found;
      while (const char* separator = scanner.next()) {
        found.push_back(static_cast<std::size_t>(separator - piece.data()));
      }
      EXPECT_EQ(found, naive_positions(piece, ',')) << start << " " << size;
    }
  }
}

TEST(scanner_test, splitting_and_picking_agree_with_a_plain_split) {
  std::mt19937 random(17);
  std::vector<std::string> lines = {"", ",", "a", ",,", "a,b", std::string(130, ',')};
  for (int i = 0; i < 1000; ++i) lines.push_back(random_text(random, random() % 260));
  // Many blocks of commas only.
  lines.push_back(std::string(16 * 255 * 2 + 7, ','));
  lines.push_back(random_text(random, 20000));
  // Kept across the lines, each split and then picked, so that what an earlier line or way left
  // would show through.
  LineFields picker;
  for (const std::string& line : lines) {
    const std::vector<std::string> expected = testing::comma_fields(line);
    picker.split(line);
    const std::span<const std::string_view> fields = picker.all();
    EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.end()), expected) << line;
    EXPECT_EQ(count_fields(line), static_cast<std::int64_t>(expected.size()));

    // Rising positions with gaps of every size, some beyond the line's last field, and the job
    // table's positions: runs of neighbours and gaps.
    std::vector<std::size_t> gaps;
    for (std::size_t position = random() % 3; position < 150; position += 1 + random() % 40) {
      gaps.push_back(position);
    }
    const std::vector<std::size_t> table = {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15, 22, 27, 34, 51};
    for (const std::vector<std::size_t>& positions : {gaps, table}) {
      picker.pick(line, positions);
      EXPECT_THROW(picker.all(), std::logic_error);
      // The positions the line has are the first `count`.
      std::size_t count = 0;
      while (count < positions.size() && positions[count] < expected.size()) ++count;
      EXPECT_EQ(picker.count(), static_cast<std::int64_t>(expected.size()));
      for (std::size_t i = 0; i < positions.size(); ++i) {
        const auto position = static_cast<std::int64_t>(positions[i]);
        if (i < count) {
          EXPECT_EQ(picker[position], expected[positions[i]]) << line << " " << position;
        } else {
          EXPECT_THROW(picker[position], Failure) << line << " " << position;
        }
      }
    }
  }
}

// What the fields of a line give after an earlier line that was split or picked wider: a position
// this line did not pick is never a view left from the earlier one, nor one of this line that
// the split happened to pass.
TEST(scanner_test, only_picked_positions_can_be_read) {
  const std::string wide = "w0,w1,w2,w3,w4,w5,w6,w7,w8,w9";
  const std::string line = "a,b,c,d,e,f";
  const std::vector<std::size_t> wide_positions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<std::size_t> positions = {1, 3, 8};
  enum class Outcome { field, missing, not_picked };
  struct Read {
    std::int64_t position;
    Outcome outcome;
    std::string_view text;  // The field, or the failure's detail.
  };
  const Read reads[] = {
      {1, Outcome::field, "b"},
      {3, Outcome::field, "d"},
      {8, Outcome::missing, "needs field 8, line has 6 fields"},
      {-1, Outcome::missing, "needs field -1, line has 6 fields"},
      {0, Outcome::not_picked, ""},
      {2, Outcome::not_picked, ""},
      {4, Outcome::not_picked, ""},
      {9, Outcome::not_picked, ""},
      {40, Outcome::not_picked, ""},
  };
  for (const bool split_before : {false, true}) {
    LineFields fields;
    if (split_before) {
      fields.split(wide);
    } else {
      fields.pick(wide, wide_positions);
    }
    fields.pick(line, positions);
    for (const Read& read : reads) {
      SCOPED_TRACE(::testing::Message()
                   << "split before " << split_before << ", position " << read.position);
      switch (read.outcome) {
        case Outcome::field:
          EXPECT_EQ(fields[read.position], read.text);
          break;
        case Outcome::missing:
          try {
            fields[read.position];
            ADD_FAILURE() << "read a field the line lacks";
          } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), ErrorCode::subscript);
            EXPECT_EQ(failure.detail(), read.text);
          }
          break;
        case Outcome::not_picked:
          EXPECT_THROW(fields[read.position], std::logic_error);
          break;
      }
    }
    // Split, every field is there to read again.
    fields.split(line);
    EXPECT_EQ(fields[4], "e");
    EXPECT_THROW(fields[6], Failure);
  }
}

// Many short lines in a file several buffers long: line ends, CR LF pairs and lone CRs fall on
// every side of the reader's buffer boundaries.
TEST(scanner_test, lines_of_a_file_cross_buffer_boundaries_intact) {
  std::mt19937 random(19);
  std::string text;
  std::vector<std::string> expected;
  while (text.size() < 3'500'000) {
    std::string line = random_text(random, random() % 90);
    std::erase(line, '\n');
    // A CR at a line's end stays only before a CR LF.
    const bool lf_alone = random() % 3 == 0 && (line.empty() || line.back() != '\r');
    expected.push_back(line);
    text += line + (lf_alone ? "\n" : "\r\n");
  }
  testing::TestFolder folder;
  folder.write("lines.txt", text);
  LineReader reader(folder / "lines.txt", "lines.txt");
  std::size_t count = 0;
  while (auto line = reader.try_next()) {
    ASSERT_LT(count, expected.size());
    ASSERT_EQ(*line, expected[count]) << "line " << count + 1;
    ++count;
  }
  EXPECT_EQ(count, expected.size());
}

}  // namespace
}  // namespace ravel
