#include "console/win32/picker.h"

#include <commctrl.h>

#include <string>
#include <tuple>

#include "console/win32/text.h"
#include "pipeline/failure.h"

namespace ravel {

// The date as the rest of the program writes it.
static constexpr const wchar_t* date_display = L"yyyy-MM-dd";

// The common controls' calendar holds 14 September 1752 to the start of 31 December 9999, where
// the Qt picker holds 1601 to 9999 whole; the form overflows before 1901-12-13 and after
// 2038-01-19 either way.
static constexpr LocalDateTime first_value{{1752, 9, 14}, 0};
static constexpr LocalDateTime last_value{{9999, 12, 31}, 0};

static SYSTEMTIME system_time(const LocalDateTime& value) {
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(value.date.year);
  time.wMonth = static_cast<WORD>(value.date.month);
  time.wDay = static_cast<WORD>(value.date.day);
  time.wHour = static_cast<WORD>(value.second_of_day / 3600);
  time.wMinute = static_cast<WORD>(value.second_of_day / 60 % 60);
  time.wSecond = static_cast<WORD>(value.second_of_day % 60);
  return time;
}

static bool earlier(const LocalDateTime& a, const LocalDateTime& b) {
  return std::tie(a.date.year, a.date.month, a.date.day, a.second_of_day) <
         std::tie(b.date.year, b.date.month, b.date.day, b.second_of_day);
}

Win32Picker::Win32Picker(HWND parent, int id, const RECT& place)
    : handle_(::CreateWindowExW(
          0, DATETIMEPICK_CLASSW, L"",
          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | DTS_SHORTDATEFORMAT, place.left,
          place.top, place.right - place.left, place.bottom - place.top, parent,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr)) {
  SYSTEMTIME range[2] = {system_time(first_value), system_time(last_value)};
  ::SendMessageW(handle_, DTM_SETRANGE, GDTR_MIN | GDTR_MAX, reinterpret_cast<LPARAM>(range));
  set_Value(picker_start_value);
  show_format();
}

LocalDateTime Win32Picker::Value() const {
  SYSTEMTIME time{};
  ::SendMessageW(handle_, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time));
  return {{time.wYear, time.wMonth, time.wDay},
          time.wHour * 3600 + time.wMinute * 60 + time.wSecond};
}

void Win32Picker::set_Value(LocalDateTime value) {
  if (earlier(value, first_value)) value = first_value;
  if (earlier(last_value, value)) value = last_value;
  SYSTEMTIME time = system_time(value);
  ::SendMessageW(handle_, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));
}

void Win32Picker::set_Format(std::int32_t selector) {
  check_format_selector(selector);
  format_ = selector;
  show_format();
}

void Win32Picker::set_CustomFormat(const std::string& format) {
  custom_format_ = wide_text(format);
  show_format();
}

void Win32Picker::show_format() {
  // Without a custom format the custom selector has nothing to show, so the date stays.
  const bool custom = format_ == custom_format && !custom_format_.empty();
  ::SendMessageW(handle_, DTM_SETFORMATW, 0,
                 reinterpret_cast<LPARAM>(custom ? custom_format_.c_str() : date_display));
}

}  // namespace ravel
