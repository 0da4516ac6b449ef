#pragma once
// The console window on Windows: Form1 on screen with the system's own controls at their designed
// places, the credit marquee, and buttons that run the form's operations through one error path.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <type_traits>

#include "console/form1.h"
#include "console/form_layout.h"
#include "console/win32/dialogs.h"
#include "console/win32/picker.h"

namespace ravel {

// A timer of a window, as the form's Timer1: an interval, running or stopped.
class Win32Timer {
 public:
  Win32Timer(HWND owner, UINT_PTR id, int interval_ms)
      : owner_(owner), id_(id), interval_ms_(interval_ms) {}

  void start();
  void stop();
  bool is_active() const { return active_; }
  int interval() const { return interval_ms_; }
  UINT_PTR id() const { return id_; }

 private:
  HWND owner_;
  UINT_PTR id_;
  int interval_ms_;
  bool active_ = false;
};

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

class Win32ConsoleWindow {
 public:
  // The form works in `folder` and keeps its stored listing in `store`. `dialogs`, when given,
  // stands in for the update's dialogs on screen. The window is created hidden.
  Win32ConsoleWindow(std::filesystem::path folder, std::filesystem::path store,
                     ConsoleDialogs* dialogs = nullptr);
  Win32ConsoleWindow(const Win32ConsoleWindow&) = delete;
  Win32ConsoleWindow& operator=(const Win32ConsoleWindow&) = delete;
  ~Win32ConsoleWindow();

  HWND handle() const { return handle_; }
  // The start-up set-up of the time pickers, without the start-up report.
  void set_up_time_pickers() { form_.set_up_time_pickers(); }
  const console::Form1& form() const { return form_; }

  // Shows the window with the focus on the first control of the Tab order.
  void show();
  // Handles messages until the window is closed or a handler failed. Keys go through the dialog
  // manager first, so that Tab and the arrow keys move the focus as on any form.
  void run();

  // A control's place and size in twips, read back from its pixels.
  TwipsRect twips_geometry(HWND control) const;
  // Label4's left position in twips, as the marquee keeps it.
  std::int32_t credit_left() const { return credit_.left; }
  void move_credit(std::int32_t left);
  // The window's full width in twips, frame included.
  std::int32_t outer_width() const;

  // True once a handler failed: the operator was told and the program is ending.
  bool failed() const { return failed_; }
  // Whose folders the actions may work in.
  void set_owner_rule(OwnerRule rule) { form_.owner_rule = rule; }

  void Timer1_Timer();

 private:
  static HWND create_main_window(double dpi_x, double dpi_y);
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT handle_message(UINT message, WPARAM w, LPARAM l);
  HWND create_control(const wchar_t* control_class, const ControlDesign& design, DWORD style,
                      int id = 0);
  RECT pixels(const TwipsRect& rect) const;
  void set_up_controls();
  void set_up_focus_order();
  void run_action(const std::function<void()>& action);
  void fail(const std::exception_ptr& error);

  double dpi_x_;
  double dpi_y_;
  Font classic_font_;
  Font credit_font_;
  Brush strip_brush_;
  HWND handle_;

 public:
  // The controls, in the order they are created.
  HWND Label1;
  HWND Label2;
  Win32Picker dp1;
  Win32Picker tp1;
  Win32Picker dp2;
  Win32Picker tp2;
  HWND Command4;
  HWND Command1;
  HWND Command2;
  HWND Command3;
  HWND Text1;
  HWND Text2;
  HWND Label3;
  HWND Label4;
  Win32Timer Timer1;

 private:
  Win32Dialogs screen_dialogs_;
  console::Form1 form_;
  TwipsRect credit_;
  bool failed_ = false;
};

}  // namespace ravel
