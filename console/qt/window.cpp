#include "console/qt/window.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pipeline/command_line.h"

namespace ravel {

static QString qt_text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

static QFont qt_font(const FontDesign& design, QFont::StyleHint hint) {
  QFont font(qt_text(design.face));
  font.setStyleHint(hint);
  font.setPointSizeF(design.points);
  font.setBold(design.bold);
  return font;
}

// The form's classic face, or the nearest one installed: the window's default font, and the
// pickers' own.
static QFont classic_font() { return qt_font(form1_layout.classic_font, QFont::SansSerif); }

static QColor qt_colour(const Colour& design) {
  return QColor(design.red, design.green, design.blue);
}

ConsoleWindow::ConsoleWindow(std::filesystem::path folder, std::filesystem::path store,
                             ConsoleDialogs* dialogs, QWidget* parent)
    : QWidget(parent),
      Label1(qt_text(form1_layout.Label1.caption), this),
      Label2(qt_text(form1_layout.Label2.caption), this),
      dp1(this),
      tp1(this),
      dp2(this),
      tp2(this),
      Command4(qt_text(form1_layout.Command4.caption), this),
      Command1(qt_text(form1_layout.Command1.caption), this),
      Command2(qt_text(form1_layout.Command2.caption), this),
      Command3(qt_text(form1_layout.Command3.caption), this),
      Text1(this),
      Text2(this),
      Label3(this),
      Label4(qt_text(form1_layout.Label4.caption), this),
      Timer1(this),
      screen_dialogs_(*this),
      form_(std::move(folder), std::move(store),
            {dp1, tp1, dp2, tp2, dialogs != nullptr ? *dialogs : screen_dialogs_}),
      credit_(form1_layout.Label4.rect) {
  setWindowTitle(QStringLiteral("Ravelbook " RAVEL_VERSION));
  setFont(classic_font());
  resize(twips_to_pixels(form1_layout.client_width, logicalDpiX()),
         twips_to_pixels(form1_layout.client_height, logicalDpiY()));
  set_up_controls();
  set_up_focus_order();

  connect(&Command1, &QPushButton::clicked, this, &ConsoleWindow::process);
  connect(&Command2, &QPushButton::clicked, this, &ConsoleWindow::update_listing);
  connect(&Command3, &QPushButton::clicked, this, &ConsoleWindow::compute_reporting_window);
  connect(&Command4, &QPushButton::clicked, this, &ConsoleWindow::show_report);

  // The marquee runs from the window's creation, whether or not it is on screen yet.
  connect(&Timer1, &QTimer::timeout, this, &ConsoleWindow::Timer1_Timer);
  Timer1.start(form1_layout.Timer1_interval_ms);
}

void ConsoleWindow::set_up_controls() {
  place(Label1, form1_layout.Label1.rect);
  place(Label2, form1_layout.Label2.rect);
  place(dp1, form1_layout.dp1.rect);
  place(tp1, form1_layout.tp1.rect);
  place(dp2, form1_layout.dp2.rect);
  place(tp2, form1_layout.tp2.rect);
  place(Command4, form1_layout.Command4.rect);
  place(Command1, form1_layout.Command1.rect);
  place(Command2, form1_layout.Command2.rect);
  place(Command3, form1_layout.Command3.rect);
  place(Text1, form1_layout.Text1.rect);
  place(Text2, form1_layout.Text2.rect);
  place(Label3, form1_layout.Label3.rect);
  place(Label4, credit_);

  // The captions are sized to their text. The designed widths fit the classic face; a wider
  // installed face widens the label rather than cutting its caption short.
  for (QLabel* label : {&Label1, &Label2}) {
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  }
  for (QtPicker* picker : {&dp1, &tp1, &dp2, &tp2}) picker->setFont(classic_font());

  Label3.setAutoFillBackground(true);
  QPalette strip = Label3.palette();
  strip.setColor(QPalette::Window, qt_colour(form1_layout.strip_colour));
  Label3.setPalette(strip);

  // No background of its own, so the strip shows through around the credit's letters.
  Label4.setAutoFillBackground(false);
  Label4.setFont(qt_font(form1_layout.credit_font, QFont::Serif));
  QPalette credit = Label4.palette();
  credit.setColor(QPalette::WindowText, qt_colour(form1_layout.credit_colour));
  Label4.setPalette(credit);
}

void ConsoleWindow::set_up_focus_order() {
  const std::pair<int, QWidget*> controls[] = {
      {form1_layout.Command1.tab_index, &Command1}, {form1_layout.Text1.tab_index, &Text1},
      {form1_layout.Text2.tab_index, &Text2},       {form1_layout.Command2.tab_index, &Command2},
      {form1_layout.dp1.tab_index, &dp1},           {form1_layout.tp1.tab_index, &tp1},
      {form1_layout.dp2.tab_index, &dp2},           {form1_layout.tp2.tab_index, &tp2},
      {form1_layout.Command3.tab_index, &Command3}, {form1_layout.Command4.tab_index, &Command4}};
  std::vector<std::pair<int, QWidget*>> order(std::begin(controls), std::end(controls));
  std::sort(order.begin(), order.end());
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1].second, order[i].second);
  order.front().second->setFocus();
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
  const ActionFailure failure = action_failure(error);
  std::fprintf(stderr, "%s\n", failure.line.c_str());
  QMessageBox box(QMessageBox::Critical, windowTitle(), QString::fromStdString(failure.box_text),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  hide();
  QCoreApplication::exit();
}

}  // namespace ravel
