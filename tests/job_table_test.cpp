#include "pipeline/job_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "pipeline/failure.h"
#include "tests/test_folder.h"

namespace ravel {
namespace {

// A listing line of `count` fields "f0", "f1", … with some fields set.
std::string listing_line(int count, const std::map<int, std::string>& set = {}) {
  std::string line;
  for (int i = 0; i < count; ++i) {
    if (i > 0) line += ',';
    const auto found = set.find(i);
    if (found != set.end()) {
      line += found->second;
    } else {
      line += 'f';
      line += std::to_string(i);
    }
  }
  return line;
}

std::string convert(const std::string& listing, const Edition& edition) {
  std::string table;
  LineReader reader = LineReader::from_text(listing, "bpdbjobs.txt");
  TextWriter writer(table);
  convert_listing(reader, writer, edition);
  writer.flush();
  return table;
}

TEST(job_table_test, columns_come_from_their_listing_positions) {
  const std::string line = listing_line(52, {{22, "3"}});
  EXPECT_EQ(convert(line + "\r\n", tinted_edition),
            std::string(wide_table_header) +
                "\r\nf0,f3,f4,f6,f5,3,f7,f11,f8,f10,f9,f14,f15,f34,f27,f51\r\n");
  EXPECT_EQ(convert(line + "\r\n", plain_edition),
            std::string(wide_table_header) +
                "\r\nf0,f3,f4,f6,f5,3,f7,f11,f8,f10,f9,f14,f15,f34,f27,f51\r\n");
  EXPECT_EQ(convert(listing_line(35) + "\n", brief_edition),
            std::string(brief_table_header) + "\r\nf0,f3,f4,f8,f9,f10,f14,f15,f34\r\n");
}

TEST(job_table_test, tinted_edition_names_schedule_types_and_plain_copies_them) {
  const struct {
    const char* code;
    const char* tinted;
  } cases[] = {
      {"0", "Full Backup"}, {"1", "Differential"},
      {"2", "User Backup"}, {"4", "Cumulative"},
      {"3", "3"},           {"", ""},
      {" 0", " 0"},         {"00", "00"},
  };
  for (const auto& c : cases) {
    const std::string line = listing_line(52, {{22, c.code}}) + "\n";
    const std::string prefix = std::string(wide_table_header) + "\r\nf0,f3,f4,f6,f5,";
    EXPECT_EQ(
        convert(line, tinted_edition).substr(prefix.size()).substr(0, std::strlen(c.tinted) + 4),
        std::string(c.tinted) + ",f7,")
        << c.code;
    EXPECT_EQ(convert(line, plain_edition).substr(prefix.size()).substr(0, std::strlen(c.code) + 4),
              std::string(c.code) + ",f7,")
        << c.code;
  }
}

TEST(job_table_test, fields_beyond_those_read_make_no_difference) {
  for (const Edition* edition : {&tinted_edition, &plain_edition, &brief_edition}) {
    const int needed = edition == &brief_edition ? 35 : 52;
    const std::string cut = listing_line(needed);
    EXPECT_EQ(convert(listing_line(60) + "\n", *edition), convert(cut + "\n", *edition))
        << edition->name;
  }
}

TEST(job_table_test, fields_are_copied_byte_for_byte) {
  const std::string line =
      listing_line(52, {{0, " 7 "}, {4, "\"quoted\""}, {6, "caf\xe9"}, {51, "a\rb"}});
  EXPECT_EQ(convert(line + "\n", plain_edition),
            std::string(wide_table_header) +
                "\r\n 7 ,f3,\"quoted\",caf\xe9,f5,f22,f7,f11,f8,f10,f9,f14,f15,f34,f27,a\rb\r\n");
}

TEST(job_table_test, line_ends_do_not_change_the_table) {
  const std::string a = listing_line(52, {{0, "2"}});
  const std::string b = listing_line(52, {{0, "1"}});
  const std::string expected = convert(a + "\r\n" + b + "\r\n", tinted_edition);
  EXPECT_EQ(convert(a + "\n" + b + "\n", tinted_edition), expected);
  EXPECT_EQ(convert(a + "\n" + b, tinted_edition), expected);
  EXPECT_EQ(convert("", tinted_edition), std::string(wide_table_header) + "\r\n");
}

TEST(job_table_test, short_or_blank_line_ends_the_conversion_keeping_earlier_rows) {
  const struct {
    const Edition* edition;
    std::string bad_line;
    const char* message;
  } cases[] = {
      {&tinted_edition, listing_line(51),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 51, line has 51 fields"},
      {&plain_edition, listing_line(51),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 51, line has 51 fields"},
      {&brief_edition, listing_line(34),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 34, line has 34 fields"},
      {&tinted_edition, "",
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 22, line has 0 fields"},
      {&tinted_edition, listing_line(20),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 22, line has 20 fields"},
      {&plain_edition, listing_line(20),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 22, line has 20 fields"},
      {&plain_edition, listing_line(40),
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 51, line has 40 fields"},
      {&brief_edition, "",
       "error 9: Subscript out of range: bpdbjobs.txt line 2: needs field 0, line has 0 fields"},
  };
  for (const auto& c : cases) {
    const std::string good = listing_line(60);
    std::string table;
    LineReader reader =
        LineReader::from_text(good + "\r\n" + c.bad_line + "\r\n" + good + "\r\n", "bpdbjobs.txt");
    try {
      TextWriter writer(table);
      convert_listing(reader, writer, *c.edition);
      ADD_FAILURE() << "converted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), c.message);
    }
    EXPECT_EQ(table, convert(good + "\n", *c.edition)) << c.edition->name;
  }
}

TEST(job_table_test, generate_file_rewrites_the_table_and_keeps_it_without_a_listing) {
  testing::TestFolder folder;
  folder.write("out1.txt", "an earlier job table\r\nwith two lines\r\n");
  EXPECT_THROW(generate_file(Folder(folder.path()), brief_edition), Failure);
  EXPECT_EQ(folder.read("out1.txt"), "an earlier job table\r\nwith two lines\r\n");

  folder.write("bpdbjobs.txt", listing_line(35) + "\n");
  generate_file(Folder(folder.path()), brief_edition);
  const std::string first = folder.read("out1.txt");
  EXPECT_EQ(first, std::string(brief_table_header) + "\r\nf0,f3,f4,f8,f9,f10,f14,f15,f34\r\n");
  generate_file(Folder(folder.path()), brief_edition);
  EXPECT_EQ(folder.read("out1.txt"), first);
}

}  // namespace
}  // namespace ravel
