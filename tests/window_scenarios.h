#pragma once
// The operator's steps that both console windows, on Qt and on Win32, are checked against: the
// same steps must leave the same files and show the same messages on either.

#include <string>
#include <string_view>
#include <vector>

#include "pipeline/edition.h"
#include "tests/test_folder.h"

namespace ravel::testing {

// A 56-field listing line of a job of policy Exch started at `start`, selector 1.
inline std::string listing_line(const std::string& id, const std::string& start) {
  std::string line = id;
  for (int i = 1; i < 56; ++i) {
    line += ',' + (i == 4 ? "Exch" : i == 8 ? start : i == 36 ? "1" : std::to_string(i % 10));
  }
  return line + "\r\n";
}

// Process over 2011-02-01 13:45:10 to 13:50:00, picked on the time pickers: one of the two jobs
// started inside the window, and the second policy ran none.
inline void write_process_inputs(const TestFolder& folder) {
  folder.write("bpdbjobs.txt", listing_line("2", "1296539200") + listing_line("1", "1296539000"));
  folder.write("policy_list.txt", "Exch\r\nFS\r\n");
  folder.write("jobid.txt", "0\r\n");
}
inline std::string process_table() {
  return std::string(grouped_table_header) +
         "\r\nExch,5,6,2011-02-01 13:46:40,1970-01-01 08:00:00,0:00.09,4,5,9 Months,3,5,2,User "
         "Backup\r\nFS,Not Found\r\n";
}
inline constexpr std::string_view process_report_window =
    "Start: 2011-02-01 13:45:10<br> End: 2011-02-01 13:50:00";

// Update Database with the file the operator picks, over this stored listing.
inline const std::string stored_listing = "5210,a\r\n5209,b\r\n";
struct UpdateCase {
  const char* update;   // nullptr: the operator cancels the dialog
  const char* message;  // nullptr: no message
  std::string stored_after;
};
inline std::vector<UpdateCase> update_cases() {
  return {
      {"5212,x\r\n5211,y\r\n5210,a\r\n", " Finished Updating Database",
       "5212,x\r\n5211,y\r\n" + stored_listing},
      {"5213,x\r\n5212,y\r\n", "File not proper", stored_listing},
      {nullptr, nullptr, stored_listing},
  };
}

}  // namespace ravel::testing
