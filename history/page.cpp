#include "history/page.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "pipeline/failure.h"

namespace ravel {

void append_text(std::string& out, std::string_view text, Reading reading) {
  const bool pass_high_bytes = passes_as_utf8(text, reading);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte < 0xA0 && !pass_high_bytes)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
      out += escape;
    } else if (byte >= 0x80 && !pass_high_bytes) {
      append_latin1(out, byte);
    } else {
      out += c;
    }
  }
}

void append_cut(std::string& out, std::string_view text, std::size_t shown, Reading reading) {
  if (text.size() <= shown) {
    append_text(out, text, reading);
    return;
  }
  std::size_t cut = shown;
  if (passes_as_utf8(text, reading)) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  append_text(out, text.substr(0, cut), reading);
  out += "...";
}

void append_name(std::string& out, std::string_view name) {
  append_cut(out, name, shown_name_bytes, Reading::latin1);
}

void append_href(std::string& out, std::string_view file_name) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : file_name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '~' || c == '.') {
      out += c;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    }
  }
}

void append_file_url(std::string& out, std::string_view path) {
  out += "file://";
  std::string_view rest = path;
  if (rest.starts_with("//")) {
    // A Windows share: its server is the URL's host.
    rest.remove_prefix(2);
    const std::size_t end = std::min(rest.find('/'), rest.size());
    append_href(out, rest.substr(0, end));
    rest.remove_prefix(end);
  } else if (rest.size() >= 2 && rest[1] == ':' &&
             ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    // A drive's colon is the one reserved character a file URL keeps as it is.
    out += '/';
    out += rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  bool named = false;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('/'), rest.size());
    if (end > 0) {
      out += '/';
      append_href(out, rest.substr(0, end));
      named = true;
    }
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  if (!named) out += '/';
}

std::string count_text(std::int64_t value) {
  const std::string digits = std::to_string(value);
  const std::size_t sign = value < 0 ? 1 : 0;
  std::string text = digits.substr(0, sign);
  for (std::size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string duration_text(std::int64_t seconds) {
  const std::int64_t minutes = std::max<std::int64_t>(seconds, 0) / 60;
  const std::int64_t hours = minutes / 60;
  const std::int64_t days = hours / 24;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
  return std::to_string(minutes) + " min";
}

std::string utc_text(std::int64_t unix_time) {
  using namespace std::chrono;
  const sys_seconds instant{seconds{unix_time}};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss time{instant - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
  return text;
}

std::string state_class(CheckState state) {
  std::string name(state_name(state));
  for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
  return name;
}

const std::string_view page_style = R"(
:root{--fg:#1f2328;--muted:#59636e;--line:#d0d7de;--page:#f3f5f8}
*{box-sizing:border-box}
body{margin:0;background:var(--page);color:var(--fg);font:15px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,"Noto Sans",sans-serif}
.wrap{max-width:1080px;margin:0 auto;padding:0 16px}
.banner{padding:18px 0 14px;color:#fff}
.banner.ok,.badge.ok{background:#1a7f37}.banner.warning,.badge.warning{background:#f2b01e;color:#231a00}
.banner.critical,.badge.critical{background:#c62828}.banner.unknown,.badge.unknown{background:#5f6b7a}
.state{margin:0;font-size:1.35rem;font-weight:500}.state strong{font-weight:800;letter-spacing:.04em;margin-right:.4em}
.meta{margin:.35rem 0 0;font-size:.85rem;opacity:.92}
details{font-size:.85rem;margin-top:.3rem}summary{cursor:pointer;opacity:.92}
details code{display:block;margin-top:.2rem;font-size:.8rem;word-break:break-all}
section{background:#fff;border:1px solid var(--line);border-radius:8px;margin:16px 0;padding:4px 16px 14px}
h2{font-size:1.1rem;margin:.8rem 0 .6rem}
h2 .count{display:inline-block;min-width:1.6em;margin-left:.4em;padding:0 .45em;border:1px solid var(--line);border-radius:1em;font-size:.85rem;font-weight:600;text-align:center;color:var(--muted)}
p.note,p.more{color:var(--muted);margin:.5rem 0}
.scroll{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:.92rem}
th,td{padding:6px 10px;text-align:left;vertical-align:top;border-bottom:1px solid var(--line);overflow-wrap:anywhere}
thead th{border-bottom:2px solid #8c959f;white-space:nowrap}
tbody tr:nth-child(even){background:#f8f9fb}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.id{font-family:ui-monospace,SFMono-Regular,Menlo,Consolas,monospace}
td.status{font-weight:700}
.charts{display:grid;grid-template-columns:repeat(auto-fit,minmax(min(100%,440px),1fr));gap:4px 28px}
.chart{margin:.6rem 0 0}
.chart figcaption{font-size:.95rem;font-weight:600;color:var(--muted)}
.chart svg{display:block;width:100%;min-width:420px;height:auto}
.chart text{font-family:system-ui,sans-serif;font-size:14px;fill:#3d444d}
.chart .axis{stroke:#57606a;stroke-width:1.5}.chart .grid{stroke:#e1e5ea;stroke-width:1}
.chart rect{fill:#3f72b5}#chart-failed rect{fill:#b42318}
ul.reports{columns:13em;column-gap:2em;list-style:none;margin:0;padding:0}
ul.reports li{padding:2px 0}
a{color:#0b5cad}
footer{color:var(--muted);font-size:.8rem;padding:0 0 24px}
td.meaning{min-width:12em}
@media (max-width:600px){body{font-size:14px}.wrap{padding:0 10px}section{padding:2px 10px 10px}
thead{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0)}
tbody tr{display:block;padding:4px 0;border-bottom:2px solid var(--line)}tbody tr:nth-child(even){background:none}
td{display:flex;justify-content:space-between;gap:1em;border:none;padding:2px 0}td.num{text-align:right}
td::before{content:attr(data-label);color:var(--muted);font-weight:600;text-align:left}
td.meaning{min-width:0;text-align:right}}
@media print{body{background:#fff}.banner{color:#000;background:none;border:3px solid #000;padding:8px}section{border:none;break-inside:avoid;padding:0}a{color:#000}.chart svg{min-width:0}}
)";

void append_page_head(std::string& out, std::string_view title_html, std::string_view own_style) {
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      // The page is to load nothing, whatever a name in it says.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n<title>";
  out += title_html;
  out += "</title>\n<style>";
  out += page_style;
  out += own_style;
  out += "</style>\n</head>\n<body>\n";
}

void append_section_start(std::string& out, std::string_view id, std::string_view heading,
                          std::int64_t count) {
  out += "<section id=\"";
  out += id;
  out += "\">\n<h2>";
  out += heading;
  out += "<span class=\"count\">" + count_text(count) + "</span></h2>\n";
}

void append_more(std::string& out, std::int64_t more, std::string_view one, std::string_view many) {
  if (more <= 0) return;
  out += "<p class=\"more\">and " + count_text(more) + " more ";
  out += more == 1 ? one : many;
  out += "</p>\n";
}

void append_table_start(std::string& out, const std::vector<Column>& columns) {
  out += "<div class=\"scroll\"><table>\n<thead><tr>";
  for (const Column& column : columns) {
    out += column.numeric ? "<th scope=\"col\" class=\"num\">" : "<th scope=\"col\">";
    out += column.heading;
    out += "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
}

void append_cell_start(std::string& out, const Column& column, std::string_view extra_class) {
  out += "<td data-label=\"";
  out += column.heading;
  out += '"';
  if (column.numeric || !extra_class.empty()) {
    out += " class=\"";
    out += column.numeric ? "num" : "";
    out += column.numeric && !extra_class.empty() ? " " : "";
    out += extra_class;
    out += '"';
  }
  out += '>';
}

}  // namespace ravel
