#include "console/qt/picker.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include "pipeline/failure.h"

namespace ravel {

// The date as the rest of the program writes it.
static const QString date_display = QStringLiteral("yyyy-MM-dd");

// Picked values are wall-clock times without a time zone; held as UTC they never fall into a
// daylight-saving gap of the machine's zone.
static QDateTime to_qt(const LocalDateTime& value) {
  return QDateTime(QDate(value.date.year, value.date.month, value.date.day),
                   QTime::fromMSecsSinceStartOfDay(value.second_of_day * 1000), Qt::UTC);
}

QtPicker::QtPicker(QWidget* parent) : QDateTimeEdit(parent) {
  setTimeSpec(Qt::UTC);
  setDateTimeRange(to_qt({{1601, 1, 1}, 0}), to_qt({{9999, 12, 31}, 86399}));
  setCalendarPopup(true);
  set_Value(picker_start_value);
  show_format();
}

LocalDateTime QtPicker::Value() const {
  const QDateTime value = dateTime();
  const QDate date = value.date();
  return {{date.year(), date.month(), date.day()}, value.time().msecsSinceStartOfDay() / 1000};
}

void QtPicker::set_Value(LocalDateTime value) { setDateTime(to_qt(value)); }

void QtPicker::set_Format(std::int32_t selector) {
  check_format_selector(selector);
  format_ = selector;
  show_format();
}

void QtPicker::set_CustomFormat(const std::string& format) {
  custom_format_ = QString::fromStdString(format);
  show_format();
}

void QtPicker::show_format() {
  // Without a custom format the custom selector has nothing to show, so the date stays.
  const bool custom = format_ == custom_format && !custom_format_.isEmpty();
  setDisplayFormat(custom ? custom_format_ : date_display);
}

bool QtPicker::focusNextPrevChild(bool next) { return QWidget::focusNextPrevChild(next); }

}  // namespace ravel
