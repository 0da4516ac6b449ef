#pragma once
// The Process action's column layouts as data: where each field of the interim file comes from
// in the job listing, and how the second pass turns an interim line into a row of the grouped
// job table.

#include <cstddef>

namespace ravel {

// The fields nearest a listing line's end sit at fixed distances from it, since the fields
// before them vary in number from job to job: they are counted back from the end. The selector
// decides where a job goes; the transfer rate of a job without selector is found further back
// when its storage unit sends it to the interim file.
inline constexpr std::size_t selector_from_end = 20;
inline constexpr std::size_t rate_from_end = 21;
inline constexpr std::size_t storage_unit_rate_from_end = 23;
inline constexpr std::size_t storage_unit_position = 11;
inline constexpr std::size_t start_position = 8;
// Written to the side file only, after the policy: the job's second field.
inline constexpr std::size_t side_only_position = 1;

// How an interim field is made from a listing line.
enum class Source {
  field,    // the listing field at `position`, as it stands
  instant,  // the listing field at `position` as date-time text, display offset added
  rate,     // the transfer rate, counted back from the end
};

struct InterimColumn {
  Source source;
  std::size_t position = 0;
};

// The 13 fields of an interim line, in order. The side file has the field at
// side_only_position after the first.
inline constexpr InterimColumn interim_columns[] = {
    {Source::field, 4},     // 0 policy
    {Source::field, 5},     // 1 schedule
    {Source::field, 6},     // 2 client
    {Source::instant, 8},   // 3 start
    {Source::instant, 10},  // 4 end
    {Source::field, 9},     // 5 elapsed seconds
    {Source::field, 14},    // 6 kilobytes
    {Source::field, 15},    // 7 files
    {Source::field, 27},    // 8 retention code
    {Source::field, 3},     // 9 status
    {Source::rate},         // 10 kilobytes per second
    {Source::field, 0},     // 11 job id
    {Source::field, 22},    // 12 schedule-type code
};

// The interim fields that the second pass does not copy as they stand.
inline constexpr std::size_t interim_policy = 0;
inline constexpr std::size_t interim_elapsed = 5;
inline constexpr std::size_t interim_retention = 8;
inline constexpr std::size_t interim_schedule_type = 12;
inline constexpr std::size_t interim_field_count = std::size(interim_columns);

}  // namespace ravel
