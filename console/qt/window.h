#pragma once
// The console window: Form1 on screen, with its controls at their designed places, the credit
// marquee, and buttons that run the form's operations through one error path.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>

#include "console/form1.h"
#include "console/form_layout.h"
#include "console/qt/dialogs.h"
#include "console/qt/picker.h"

namespace ravel {

class ConsoleWindow : public QWidget {
  Q_OBJECT

 public:
  // The form works in `folder` and keeps its stored listing in `store`. `dialogs`, when given,
  // stands in for the update's dialogs on screen.
  ConsoleWindow(std::filesystem::path folder, std::filesystem::path store,
                ConsoleDialogs* dialogs = nullptr, QWidget* parent = nullptr);

  // The start-up set-up of the time pickers, without the start-up report.
  void set_up_time_pickers() { form_.set_up_time_pickers(); }
  const console::Form1& form() const { return form_; }

  // A control's place and size in twips, read back from its pixels.
  TwipsRect twips_geometry(const QWidget& control) const;
  // Label4's left position in twips, as the marquee keeps it.
  std::int32_t credit_left() const { return credit_.left; }
  void move_credit(std::int32_t left);
  // The window's full width in twips, frame included.
  std::int32_t outer_width() const;

  // True once a handler failed: the operator was told and the program is ending.
  bool failed() const { return failed_; }
  // Whose folders the actions may work in.
  void set_owner_rule(OwnerRule rule) { form_.owner_rule = rule; }

 public slots:
  void Timer1_Timer();

 private slots:
  void process();
  void update_listing();
  void compute_reporting_window();
  void show_report();

 public:
  // The controls, in the order they are created: later ones are drawn over earlier ones.
  QLabel Label1;
  QLabel Label2;
  QtPicker dp1;
  QtPicker tp1;
  QtPicker dp2;
  QtPicker tp2;
  QPushButton Command4;
  QPushButton Command1;
  QPushButton Command2;
  QPushButton Command3;
  QLineEdit Text1;
  QLineEdit Text2;
  QLabel Label3;
  QLabel Label4;
  QTimer Timer1;

 private:
  void place(QWidget& control, const TwipsRect& rect);
  void set_up_controls();
  void set_up_focus_order();
  void run_action(const std::function<void()>& action);
  void fail(const std::exception_ptr& error);

  QtDialogs screen_dialogs_;
  console::Form1 form_;
  TwipsRect credit_;
  bool failed_ = false;
};

}  // namespace ravel
