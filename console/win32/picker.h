#pragma once
// The console's date/time picker on screen: the common controls' date-time picker offering what
// the form uses of a picker, its value, its format selector and its custom format.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

#include "console/picker.h"

namespace ravel {

class Win32Picker : public Picker {
 public:
  // Format selectors: the date alone, or the custom format.

  // Creates the control in `parent` at `place` (pixels), starting at 1 February 2011, showing
  // the date, within 1752-09-14 to 9999-12-31 00:00:00.
  Win32Picker(HWND parent, int id, const RECT& place);

  HWND handle() const { return handle_; }

  LocalDateTime Value() const override;
  // A value outside the picker's range is held at the nearer end of it.
  void set_Value(LocalDateTime value) override;
  // Any selector but date_format and custom_format fails with "Invalid procedure call".
  void set_Format(std::int32_t selector) override;
  // The picker's pattern letters: "HH:mm:ss" shows and edits a time of day to the second.
  void set_CustomFormat(const std::string& format) override;

 private:
  void show_format();

  HWND handle_ = nullptr;
  std::int32_t format_ = date_format;
  std::wstring custom_format_;
};

}  // namespace ravel
