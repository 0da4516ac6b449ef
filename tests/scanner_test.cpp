#include "pipeline/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/fields.h"
#include "tests/plain_text.h"
#include "tests/test_folder.h"
#include "pipeline/text_file.h"

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
  std::vector<std::string_view> fields;
  std::vector<std::string_view> picked(300);
  for (const std::string& line : lines) {
    const std::vector<std::string> expected = testing::comma_fields(line);
    split_fields(line, fields);
    EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.end()), expected) << line;
    EXPECT_EQ(count_fields(line), static_cast<std::int64_t>(expected.size()));

    // Rising positions with gaps of every size, some beyond the line's last field, and the job
    // table's positions: runs of neighbours and gaps.
    std::vector<std::size_t> gaps;
    for (std::size_t position = random() % 3; position < 150; position += 1 + random() % 40) {
      gaps.push_back(position);
    }
    const std::vector<std::size_t> table = {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15, 22, 27, 34, 51};
    using Pick = std::size_t (*)(std::string_view, std::span<const std::size_t>, std::string_view*);
    std::vector<Pick> picks = {pick_fields, pick_fields_portable};
#if RAVEL_PICK_BMI2
    if (bmi2_picking_available()) picks.push_back(pick_fields_bmi2);
#endif
    for (const Pick pick : picks) {
      for (const std::vector<std::size_t>& positions : {gaps, table}) {
        const std::size_t count = pick(line, positions, picked.data());
        std::size_t present = 0;
        while (present < positions.size() && positions[present] < expected.size()) ++present;
        ASSERT_EQ(count, present) << line;
        for (std::size_t i = 0; i < count; ++i) {
          EXPECT_EQ(picked[positions[i]], expected[positions[i]]) << line << " " << positions[i];
        }
      }
    }
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
