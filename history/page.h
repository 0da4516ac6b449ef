#pragma once
// The pieces the history's pages are made of, the site's dashboard and the overview of all sites
// alike: their style, escaping, links, numbers, times and tables.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/check.h"
#include "pipeline/failure.h"

namespace ravel {

// The pages' one style sheet, written into each page: nothing in a page loads anything.
extern const std::string_view page_style;

// A page's start, up to and with <body>: UTF-8, the phone's viewport, a policy that has the
// browser load nothing whatever a name in the page says, the title (given as HTML, escaped
// already) and the style sheet with the page's own rules after it.
void append_page_head(std::string& out, std::string_view title_html,
                      std::string_view own_style = {});

// Appends text as HTML character data, fit for element content and quoted attributes alike.
// Control characters are not allowed in an HTML page, and C1 controls (Latin-1 0x80 to 0x9F)
// would be read as Windows-1252 if written as references; they are shown as "\xNN" instead,
// the way monitoring lines show them.
void append_text(std::string& out, std::string_view text, Reading reading = Reading::latin1);
// At most `shown` bytes of the text, then "..." where it was cut; UTF-8 text is cut before the
// character that would not fit whole.
void append_cut(std::string& out, std::string_view text, std::size_t shown, Reading reading);
// A name from the listing (job id, status, policy, client), cut as monitoring cuts it, so that
// one long name cannot stretch a table.
void append_name(std::string& out, std::string_view name);
// A file name as a relative link: every byte but the unreserved ones percent-encoded, so that
// no name can name another folder, start a scheme or end the attribute.
void append_href(std::string& out, std::string_view file_name);
// An absolute path, as UTF-8 with "/" between its names, as a file URL with each name
// percent-encoded: "/var/lib/ravel" gives file:///var/lib/ravel, "C:/Ravel" file:///C:/Ravel and
// "//server/share" file://server/share.
void append_file_url(std::string& out, std::string_view path);

// "1,234,567".
std::string count_text(std::int64_t value);
// "3 d 4 h", "5 h 12 min", "7 min": two units are enough to judge how overdue a backup is or
// how long ago a run was.
std::string duration_text(std::int64_t seconds);
// "2026-12-07 00:00 UTC".
std::string utc_text(std::int64_t unix_time);
// The state's name in lower case, the class its banner is styled by.
std::string state_class(CheckState state);

void append_section_start(std::string& out, std::string_view id, std::string_view heading,
                          std::int64_t count);
// "and 3 more jobs", where more is above 0.
void append_more(std::string& out, std::int64_t more, std::string_view one, std::string_view many);

// A table's column: its heading, which phones show beside each cell, and whether it holds
// numbers, which read best right-aligned.
struct Column {
  std::string_view heading;
  bool numeric = false;
};

void append_table_start(std::string& out, const std::vector<Column>& columns);
void append_cell_start(std::string& out, const Column& column, std::string_view extra_class = {});

}  // namespace ravel
