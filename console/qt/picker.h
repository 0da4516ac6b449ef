#pragma once
// The console's date/time picker on screen: Qt's date-time editor offering what the form uses of
// a picker, its value, its format selector and its custom format.

#include <QDateTimeEdit>
#include <QString>
#include <cstdint>
#include <string>

#include "console/picker.h"

namespace ravel {

class QtPicker : public QDateTimeEdit, public Picker {
 public:
  // Format selectors: the date alone, or the custom format.

  // Starts at 1 February 2011, showing the date, within 1601-01-01 to 9999-12-31.
  explicit QtPicker(QWidget* parent = nullptr);

  LocalDateTime Value() const override;
  // A value outside the picker's range is held at the nearer end of it.
  void set_Value(LocalDateTime value) override;
  // Any selector but date_format and custom_format fails with "Invalid procedure call".
  void set_Format(std::int32_t selector) override;
  // Qt's pattern letters: "HH:mm:ss" shows and edits a time of day to the second.
  void set_CustomFormat(const std::string& format) override;

 protected:
  // Tab moves on to the next control, as on the form's other controls; the arrow keys step
  // through the picker's fields.
  bool focusNextPrevChild(bool next) override;

 private:
  void show_format();

  std::int32_t format_ = date_format;
  QString custom_format_;
};

}  // namespace ravel
