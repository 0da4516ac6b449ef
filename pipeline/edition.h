#pragma once
// The four editions of conversion and rendering, as data. A program carries one edition, fixed
// when it is built; nothing picks an edition at run time.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace ravel {

enum class JobFilter {
  none,                    // every data row is rendered
  stop_at_first_reported,  // the first row that is not newer than the marker ends the rows
  skip_reported,           // a row that is not newer is skipped and reading goes on
};

constexpr std::size_t no_column = static_cast<std::size_t>(-1);

// How the report renders the data rows of one kind of job table.
struct RowRules {
  std::size_t status_column = no_column;
  // Columns shown as date-time text and as elapsed-time text; no_column where there is none.
  std::array<std::size_t, 2> instant_columns{no_column, no_column};
  std::size_t duration_column = no_column;
  JobFilter job_filter = JobFilter::none;
  // The data row whose job id becomes the new job marker; 0 leaves the marker untouched.
  std::int64_t marker_row = 0;
  // Whether a row without a status column is tinted (rather than failing).
  bool missing_status_tints = false;

  // The columns that monitoring names a job by; no_column where the table has none. A start or
  // end column that is also an instant column is named by its date-time text.
  std::size_t job_id_column = 0;
  std::size_t policy_column = no_column;
  std::size_t client_column = no_column;
  std::size_t schedule_column = no_column;
  std::array<std::size_t, 2> start_end_columns{no_column, no_column};
  std::size_t kilobytes_column = no_column;
  // Whether the policy stands only on a group's first row and holds for the rows after it.
  bool policy_on_first_row = false;

  constexpr bool is_instant(std::size_t column) const {
    return column == instant_columns[0] || column == instant_columns[1];
  }
};

struct Edition {
  std::string_view name{};
  // Whether the report run first converts the job listing into the job table.
  bool converts_listing = true;
  // The job table the conversion writes: its header, and per column the listing position.
  std::string_view table_header{};
  std::span<const std::size_t> listing_positions{};
  // The column whose schedule-type code turns into a name; no_column where codes stay as read.
  std::size_t named_schedule_column = no_column;

  RowRules rows{};
  bool storage_group_banner = false;
  // The row opening of a job whose status is not exactly "0".
  std::string_view status_tint_row{};
  // Whether non-empty cells carry a font colour (black on plain rows, white on tinted ones).
  bool font_colour = false;

  // A job table with exactly this header (the console's policy groups) is rendered by
  // grouped_rows instead of rows; empty where the edition knows no such table.
  std::string_view grouped_table_header{};
  RowRules grouped_rows{};
};

inline constexpr std::string_view wide_table_header =
    "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start Time,"
    "End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID";
inline constexpr std::array<std::size_t, 16> wide_listing_positions{0, 3,  4, 6,  5,  22, 7,  11,
                                                                    8, 10, 9, 14, 15, 34, 27, 51};

inline constexpr std::string_view brief_table_header =
    "Job ID,Status,Policy,Start Time,Elapsed,End Time,KiloBytes,Files,KB/s";
inline constexpr std::array<std::size_t, 9> brief_listing_positions{0, 3, 4, 8, 9, 10, 14, 15, 34};

inline constexpr std::string_view grouped_table_header =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,Tx Rate,"
    "Job ID,Schedule Type";

inline constexpr RowRules wide_rows{.status_column = 1,
                                    .instant_columns = {8, 9},
                                    .duration_column = 10,
                                    .job_filter = JobFilter::stop_at_first_reported,
                                    .marker_row = 1,
                                    .policy_column = 2,
                                    .client_column = 3,
                                    .schedule_column = 4,
                                    .start_end_columns = {8, 9},
                                    .kilobytes_column = 11};
inline constexpr RowRules brief_rows{.status_column = 1,
                                     .instant_columns = {3, 5},
                                     .duration_column = 4,
                                     .job_filter = JobFilter::stop_at_first_reported,
                                     .marker_row = 1,
                                     .policy_column = 2,
                                     .start_end_columns = {3, 5},
                                     .kilobytes_column = 6};

inline constexpr std::string_view violet_tint = "<TR BGCOLOR=\"DD44EE\">";

inline constexpr Edition tinted_edition{.name = "tinted",
                                        .table_header = wide_table_header,
                                        .listing_positions = wide_listing_positions,
                                        .named_schedule_column = 5,
                                        .rows = wide_rows,
                                        .status_tint_row = "<TR BGCOLOR=\"6D7B8D\">",
                                        .font_colour = true};

inline constexpr Edition plain_edition{.name = "plain",
                                       .table_header = wide_table_header,
                                       .listing_positions = wide_listing_positions,
                                       .rows = wide_rows,
                                       .status_tint_row = violet_tint};

inline constexpr Edition brief_edition{.name = "brief",
                                       .table_header = brief_table_header,
                                       .listing_positions = brief_listing_positions,
                                       .rows = brief_rows,
                                       .storage_group_banner = true,
                                       .status_tint_row = violet_tint};

// The console renders the table in its folder without converting; job ids are compared as
// numbers and older rows skipped, and the second data row names the new marker. Its own
// grouped table is rendered whole, with the texts as they stand and the marker left alone.
inline constexpr Edition console_edition{.name = "console",
                                         .converts_listing = false,
                                         .rows = {.status_column = 1,
                                                  .instant_columns = {3, 5},
                                                  .duration_column = 4,
                                                  .job_filter = JobFilter::skip_reported,
                                                  .marker_row = 2,
                                                  .policy_column = 2,
                                                  .start_end_columns = {3, 5},
                                                  .kilobytes_column = 6},
                                         .storage_group_banner = true,
                                         .status_tint_row = violet_tint,
                                         .grouped_table_header = grouped_table_header,
                                         .grouped_rows = {.status_column = 9,
                                                          .missing_status_tints = true,
                                                          .job_id_column = 11,
                                                          .policy_column = 0,
                                                          .client_column = 2,
                                                          .schedule_column = 1,
                                                          .start_end_columns = {3, 4},
                                                          .kilobytes_column = 6,
                                                          .policy_on_first_row = true}};

}  // namespace ravel
