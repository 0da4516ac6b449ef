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

// How the report renders the data rows of one kind of job table.
struct RowRules {
  std::size_t status_column;
  // Columns shown as date-time text and as elapsed-time text; no_column where there is none.
  std::array<std::size_t, 2> instant_columns;
  std::size_t duration_column;
  JobFilter job_filter;
  // The data row whose job id becomes the new job marker; 0 leaves the marker untouched.
  std::int64_t marker_row;
  // Whether a row without a status column is tinted (rather than failing).
  bool missing_status_tints;
};

constexpr std::size_t no_column = static_cast<std::size_t>(-1);

struct Edition {
  std::string_view name;
  // Whether the report run first converts the job listing into the job table.
  bool converts_listing;
  // The job table the conversion writes: its header, and per column the listing position.
  std::string_view table_header;
  std::span<const std::size_t> listing_positions;
  // The column whose schedule-type code turns into a name; no_column where codes stay as read.
  std::size_t named_schedule_column;

  RowRules rows;
  bool storage_group_banner;
  // The row opening of a job whose status is not exactly "0".
  std::string_view status_tint_row;
  // Whether non-empty cells carry a font colour (black on plain rows, white on tinted ones).
  bool font_colour;

  // A job table with exactly this header (the console's policy groups) is rendered by
  // grouped_rows instead of rows; empty where the edition knows no such table.
  std::string_view grouped_table_header;
  RowRules grouped_rows;
};

inline constexpr std::string_view wide_table_header =
    "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start Time,"
    "End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID";
// clang-format off
inline constexpr std::array<std::size_t, 16> wide_listing_positions{
    0, 3, 4, 6, 5, 22, 7, 11, 8, 10, 9, 14, 15, 34, 27, 51};
// clang-format on

inline constexpr std::string_view brief_table_header =
    "Job ID,Status,Policy,Start Time,Elapsed,End Time,KiloBytes,Files,KB/s";
inline constexpr std::array<std::size_t, 9> brief_listing_positions{0, 3, 4, 8, 9, 10, 14, 15, 34};

inline constexpr std::string_view grouped_table_header =
    "Policy,Schedule,Client,Start,End,Elapsed Time,KBytes,Files,Retention Period,Status,Tx Rate,"
    "Job ID,Schedule Type";

inline constexpr RowRules wide_rows{1, {8, 9}, 10, JobFilter::stop_at_first_reported, 1, false};
inline constexpr RowRules brief_rows{1, {3, 5}, 4, JobFilter::stop_at_first_reported, 1, false};
inline constexpr RowRules no_rows{no_column, {no_column, no_column}, no_column, JobFilter::none, 0,
                                  false};

inline constexpr std::string_view violet_tint = "<TR BGCOLOR=\"DD44EE\">";

// clang-format off
inline constexpr Edition tinted_edition{
    "tinted", true, wide_table_header, wide_listing_positions, 5, wide_rows, false,
    "<TR BGCOLOR=\"6D7B8D\">", true, {}, no_rows};

inline constexpr Edition plain_edition{
    "plain", true, wide_table_header, wide_listing_positions, no_column, wide_rows, false,
    violet_tint, false, {}, no_rows};

inline constexpr Edition brief_edition{
    "brief", true, brief_table_header, brief_listing_positions, no_column, brief_rows, true,
    violet_tint, false, {}, no_rows};

// The console renders the table in its folder without converting; job ids are compared as
// numbers and older rows skipped, and the second data row names the new marker. Its own
// grouped table is rendered whole, with the texts as they stand and the marker left alone.
inline constexpr Edition console_edition{
    "console", false, {}, {}, no_column,
    RowRules{1, {3, 5}, 4, JobFilter::skip_reported, 2, false}, true, violet_tint, false,
    grouped_table_header, RowRules{9, {no_column, no_column}, no_column, JobFilter::none, 0, true}};
// clang-format on

}  // namespace ravel
