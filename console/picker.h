#pragma once
// The console's date/time pickers as the form sees them: a value to read, a format selector and
// a custom format to set. The window binds them to real editors; headless they hold values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pipeline/platform.h"

namespace ravel {

// A wall-clock date and time without a time zone, to the second.
struct LocalDateTime {
  CivilDate date;
  std::int32_t second_of_day = 0;
};

// The date every picker starts at: 1 February 2011, midnight.
inline constexpr LocalDateTime picker_start_value{{2011, 2, 1}, 0};

// The format selectors a picker knows: its date, or the custom format it is given.
inline constexpr std::int32_t date_format = 0;
inline constexpr std::int32_t custom_format = 1;
// The custom format of the time pickers.
inline constexpr std::string_view time_of_day_format = "HH:mm:ss";

// Fails with "Invalid procedure call" for a selector other than date_format and custom_format.
void check_format_selector(std::int32_t selector);

class Picker {
 public:
  virtual ~Picker() = default;
  virtual LocalDateTime Value() const = 0;
  virtual void set_Value(LocalDateTime value) = 0;
  virtual void set_Format(std::int32_t selector) = 0;
  virtual void set_CustomFormat(const std::string& format) = 0;
};

// A picker that only holds what it is given.
class ValuePicker : public Picker {
 public:
  LocalDateTime Value() const override { return value_; }
  void set_Value(LocalDateTime value) override { value_ = value; }
  void set_Format(std::int32_t selector) override { format_ = selector; }
  void set_CustomFormat(const std::string& format) override { custom_format_ = format; }

  std::int32_t format() const { return format_; }
  const std::string& custom_format() const { return custom_format_; }

 private:
  LocalDateTime value_ = picker_start_value;
  std::int32_t format_ = 0;
  std::string custom_format_;
};

// "YYYY-MM-DD HH:MM:SS" as a picker value within 1601-01-01 to 9999-12-31; std::nullopt for
// any other text.
std::optional<LocalDateTime> parse_local_date_time(std::string_view text);

}  // namespace ravel
