#include "window.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "command_line.h"

namespace ravel {

static constexpr std::string_view program_name = "ravelbook";
static constexpr std::int32_t client_width = 8835;
static constexpr std::int32_t client_height = 7635;
static constexpr std::int32_t credit_step = 100;
static constexpr int timer_interval_ms = 70;

int twips_to_pixels(std::int32_t twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

std::int32_t pixels_to_twips(int pixels, double dpi) {
  return static_cast<std::int32_t>(std::lround(pixels * 1440.0 / dpi));
}

std::int32_t next_credit_left(std::int32_t left, std::int32_t width, std::int32_t outer_width) {
  // Single precision as the form has always added them: far out, the rounded sum can reach 0
  // where the exact one would not.
  const float right = static_cast<float>(left) + static_cast<float>(width);
  return right > 0.0f ? left - credit_step : outer_width;
}

// The form's classic face, 8.25 pt sans serif, or the nearest one installed: the window's
// default font, and the pickers' own.
static QFont classic_font() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  return font;
}

static QFont credit_font() {
  QFont font(QStringLiteral("Times New Roman"), 12, QFont::Bold);
  font.setStyleHint(QFont::Serif);
  return font;
}

ConsoleWindow::ConsoleWindow(std::filesystem::path folder, std::filesystem::path store,
                             ConsoleDialogs* dialogs, QWidget* parent)
    : QWidget(parent),
      Label1(QStringLiteral("Start Date & Time"), this),
      Label2(QStringLiteral("End Date & Time"), this),
      dp1(this),
      tp1(this),
      dp2(this),
      tp2(this),
      Command4(QStringLiteral("HTML Report"), this),
      Command1(QStringLiteral("Process"), this),
      Command2(QStringLiteral("Update Database"), this),
      Command3(QStringLiteral("Command3"), this),
      Text1(this),
      Text2(this),
      Label3(this),
      Label4(QStringLiteral("Ravelbook report console"), this),
      Timer1(this),
      screen_dialogs_(*this),
      form_(std::move(folder), std::move(store),
            {dp1, tp1, dp2, tp2, dialogs != nullptr ? *dialogs : screen_dialogs_}),
      credit_{0, 7320, 3915, 285} {
  setWindowTitle(QStringLiteral("Ravelbook " RAVEL_VERSION));
  setFont(classic_font());
  resize(twips_to_pixels(client_width, logicalDpiX()),
         twips_to_pixels(client_height, logicalDpiY()));
  set_up_controls();
  set_up_focus_order();

  connect(&Command1, &QPushButton::clicked, this, &ConsoleWindow::process);
  connect(&Command2, &QPushButton::clicked, this, &ConsoleWindow::update_listing);
  connect(&Command3, &QPushButton::clicked, this, &ConsoleWindow::compute_reporting_window);
  connect(&Command4, &QPushButton::clicked, this, &ConsoleWindow::show_report);

  // The marquee runs from the window's creation, whether or not it is on screen yet.
  connect(&Timer1, &QTimer::timeout, this, &ConsoleWindow::Timer1_Timer);
  Timer1.start(timer_interval_ms);
}

void ConsoleWindow::set_up_controls() {
  place(Label1, {600, 360, 1155, 195});
  place(Label2, {4800, 360, 1110, 195});
  place(dp1, {600, 600, 1815, 375});
  place(tp1, {2400, 600, 1815, 375});
  place(dp2, {4800, 600, 1815, 375});
  place(tp2, {6600, 600, 1815, 375});
  place(Command4, {5520, 4440, 1695, 735});
  place(Command1, {1200, 6360, 1695, 735});
  place(Command2, {5040, 6360, 1575, 615});
  // Command3 and the text boxes lie (partly) beyond the right edge, where the form has them.
  place(Command3, {9480, 5280, 1335, 615});
  place(Text1, {8760, 720, 1455, 375});
  place(Text2, {8760, 1800, 1455, 375});
  place(Label3, {0, 7320, 10935, 375});
  place(Label4, credit_);

  // The captions are sized to their text. The designed widths fit the classic face; a wider
  // installed face widens the label rather than cutting its caption short.
  for (QLabel* label : {&Label1, &Label2}) {
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  }
  for (QtPicker* picker : {&dp1, &tp1, &dp2, &tp2}) picker->setFont(classic_font());

  Label3.setAutoFillBackground(true);
  QPalette strip = Label3.palette();
  strip.setColor(QPalette::Window, QColor(0, 0, 128));
  Label3.setPalette(strip);

  // No background of its own, so the strip shows through around the credit's letters.
  Label4.setAutoFillBackground(false);
  Label4.setFont(credit_font());
  QPalette credit = Label4.palette();
  credit.setColor(QPalette::WindowText, QColor(255, 255, 0));
  Label4.setPalette(credit);
}

void ConsoleWindow::set_up_focus_order() {
  QWidget* const order[] = {&Command1, &Text1, &Text2, &Command2, &dp1,
                            &tp1,      &dp2,   &tp2,   &Command3, &Command4};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  Command1.setFocus();
}

void ConsoleWindow::place(QWidget& control, const TwipsRect& rect) {
  control.setGeometry(
      twips_to_pixels(rect.left, logicalDpiX()), twips_to_pixels(rect.top, logicalDpiY()),
      twips_to_pixels(rect.width, logicalDpiX()), twips_to_pixels(rect.height, logicalDpiY()));
}

TwipsRect ConsoleWindow::twips_geometry(const QWidget& control) const {
  const QRect pixels = control.geometry();
  return {pixels_to_twips(pixels.x(), logicalDpiX()), pixels_to_twips(pixels.y(), logicalDpiY()),
          pixels_to_twips(pixels.width(), logicalDpiX()),
          pixels_to_twips(pixels.height(), logicalDpiY())};
}

void ConsoleWindow::move_credit(std::int32_t left) {
  credit_.left = left;
  place(Label4, credit_);
}

std::int32_t ConsoleWindow::outer_width() const {
  return pixels_to_twips(frameGeometry().width(), logicalDpiX());
}

void ConsoleWindow::Timer1_Timer() {
  move_credit(next_credit_left(credit_.left, credit_.width, outer_width()));
}

void ConsoleWindow::process() {
  run_action([this] { form_.Command1_Click(); });
}

void ConsoleWindow::update_listing() {
  run_action([this] { form_.Command2_Click(); });
}

void ConsoleWindow::compute_reporting_window() {
  run_action([this] { form_.Command3_Click(); });
}

void ConsoleWindow::show_report() {
  run_action([this] { form_.Command4_Click(); });
}

void ConsoleWindow::run_action(const std::function<void()>& action) {
  // Once the error path has begun, the program is ending: nothing else runs.
  if (failed_) return;
  try {
    action();
  } catch (...) {
    fail(std::current_exception());
  }
}

void ConsoleWindow::fail(const std::exception_ptr& error) {
  failed_ = true;
  Timer1.stop();
  const std::string line = failure_line(program_name, error);
  std::fprintf(stderr, "%s\n", line.c_str());
  // The box shows the error without the program's name, which its title carries.
  const std::string message = line.substr(program_name.size() + 2);
  QMessageBox box(QMessageBox::Critical, windowTitle(), QString::fromStdString(message),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  hide();
  QCoreApplication::exit();
}

}  // namespace ravel
