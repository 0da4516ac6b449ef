#include "console/win32/window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/win32/text.h"
#include "pipeline/command_line.h"
#include "pipeline/failure.h"

namespace ravel {

// The identifiers the controls report in their notifications.
enum ControlId : int {
  dp1_id = 101,
  tp1_id,
  dp2_id,
  tp2_id,
  Command1_id,
  Command2_id,
  Command3_id,
  Command4_id,
};

static COLORREF colour(const Colour& design) { return RGB(design.red, design.green, design.blue); }

static double screen_dpi(int axis) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, axis);
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

static Font make_font(const FontDesign& design, double dpi, BYTE family) {
  const int height = -static_cast<int>(std::lround(design.points * dpi / 72.0));
  return Font(::CreateFontW(height, 0, 0, 0, design.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, static_cast<BYTE>(family | DEFAULT_PITCH),
                            wide_text(design.face).c_str()));
}

HWND Win32ConsoleWindow::create_main_window(double dpi_x, double dpi_y) {
  static const ATOM window_class = [] {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = &window_procedure;
    description.hInstance = ::GetModuleHandleW(nullptr);
    description.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    description.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    // The form's colour is the system's face colour, as the buttons'.
    description.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    description.lpszClassName = L"RavelbookConsoleWindow";
    return ::RegisterClassExW(&description);
  }();
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  RECT frame{0, 0, twips_to_pixels(form1_layout.client_width, dpi_x),
             twips_to_pixels(form1_layout.client_height, dpi_y)};
  ::AdjustWindowRectEx(&frame, style, FALSE, 0);
  HWND window = ::CreateWindowExW(0, MAKEINTATOM(window_class), L"Ravelbook " RAVEL_VERSION, style,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  // A session without a desktop (a service's) has no place for a window.
  if (window == nullptr) {
    throw Failure(ErrorCode::internal,
                  "cannot create the window: system error " + std::to_string(::GetLastError()));
  }
  return window;
}

void Win32Timer::start() {
  ::SetTimer(owner_, id_, static_cast<UINT>(interval_ms_), nullptr);
  active_ = true;
}

void Win32Timer::stop() {
  ::KillTimer(owner_, id_);
  active_ = false;
}

Win32ConsoleWindow::Win32ConsoleWindow(std::filesystem::path folder, std::filesystem::path store,
                                       ConsoleDialogs* dialogs)
    : dpi_x_(screen_dpi(LOGPIXELSX)),
      dpi_y_(screen_dpi(LOGPIXELSY)),
      classic_font_(make_font(form1_layout.classic_font, dpi_y_, FF_SWISS)),
      credit_font_(make_font(form1_layout.credit_font, dpi_y_, FF_ROMAN)),
      strip_brush_(::CreateSolidBrush(colour(form1_layout.strip_colour))),
      handle_(create_main_window(dpi_x_, dpi_y_)),
      Label1(create_control(L"STATIC", form1_layout.Label1, SS_LEFT | SS_NOPREFIX)),
      Label2(create_control(L"STATIC", form1_layout.Label2, SS_LEFT | SS_NOPREFIX)),
      dp1(handle_, dp1_id, pixels(form1_layout.dp1.rect)),
      tp1(handle_, tp1_id, pixels(form1_layout.tp1.rect)),
      dp2(handle_, dp2_id, pixels(form1_layout.dp2.rect)),
      tp2(handle_, tp2_id, pixels(form1_layout.tp2.rect)),
      Command4(create_control(L"BUTTON", form1_layout.Command4, BS_PUSHBUTTON | WS_TABSTOP,
                              Command4_id)),
      Command1(create_control(L"BUTTON", form1_layout.Command1, BS_PUSHBUTTON | WS_TABSTOP,
                              Command1_id)),
      Command2(create_control(L"BUTTON", form1_layout.Command2, BS_PUSHBUTTON | WS_TABSTOP,
                              Command2_id)),
      Command3(create_control(L"BUTTON", form1_layout.Command3, BS_PUSHBUTTON | WS_TABSTOP,
                              Command3_id)),
      Text1(create_control(L"EDIT", form1_layout.Text1, ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER)),
      Text2(create_control(L"EDIT", form1_layout.Text2, ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER)),
      Label3(create_control(L"STATIC", form1_layout.Label3, SS_LEFT)),
      Label4(create_control(L"STATIC", form1_layout.Label4, SS_LEFT | SS_NOPREFIX)),
      Timer1(handle_, 1, form1_layout.Timer1_interval_ms),
      screen_dialogs_(handle_),
      form_(std::move(folder), std::move(store),
            {dp1, tp1, dp2, tp2, dialogs != nullptr ? *dialogs : screen_dialogs_}),
      credit_(form1_layout.Label4.rect) {
  // Messages reach the form only from here on, once every member is made.
  ::SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  set_up_controls();
  set_up_focus_order();
  // The marquee runs from the window's creation, whether or not it is on screen yet.
  Timer1.start();
}

Win32ConsoleWindow::~Win32ConsoleWindow() {
  Timer1.stop();
  ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
  ::DestroyWindow(handle_);
}

RECT Win32ConsoleWindow::pixels(const TwipsRect& rect) const {
  const int left = twips_to_pixels(rect.left, dpi_x_);
  const int top = twips_to_pixels(rect.top, dpi_y_);
  return {left, top, left + twips_to_pixels(rect.width, dpi_x_),
          top + twips_to_pixels(rect.height, dpi_y_)};
}

HWND Win32ConsoleWindow::create_control(const wchar_t* control_class, const ControlDesign& design,
                                        DWORD style, int id) {
  const RECT place = pixels(design.rect);
  return ::CreateWindowExW(0, control_class, wide_text(design.caption).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, place.left, place.top,
                           place.right - place.left, place.bottom - place.top, handle_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void Win32ConsoleWindow::set_up_controls() {
  for (HWND control : {Label1, Label2, dp1.handle(), tp1.handle(), dp2.handle(), tp2.handle(),
                       Command4, Command1, Command2, Command3, Text1, Text2, Label3}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(classic_font_.get()), FALSE);
  }
  ::SendMessageW(Label4, WM_SETFONT, reinterpret_cast<WPARAM>(credit_font_.get()), FALSE);

  // The captions are sized to their text. The designed widths fit the classic face; a wider
  // installed face widens the label rather than cutting its caption short.
  for (HWND label : {Label1, Label2}) {
    const std::wstring caption = wide_text(window_text(label));
    HDC context = ::GetDC(label);
    const HGDIOBJ earlier = ::SelectObject(context, classic_font_.get());
    SIZE extent{};
    ::GetTextExtentPoint32W(context, caption.c_str(), static_cast<int>(caption.size()), &extent);
    ::SelectObject(context, earlier);
    ::ReleaseDC(label, context);
    RECT place{};
    ::GetClientRect(label, &place);
    ::SetWindowPos(label, nullptr, 0, 0, std::max<LONG>(place.right, extent.cx), place.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Tab visits the controls in the order of the sibling list, which is also the order they are
// drawn in, top first: the controls by their TabIndex, then the labels, the credit over the strip.
void Win32ConsoleWindow::set_up_focus_order() {
  std::vector<std::pair<int, HWND>> order = {
      {form1_layout.Command1.tab_index, Command1}, {form1_layout.Text1.tab_index, Text1},
      {form1_layout.Text2.tab_index, Text2},       {form1_layout.Command2.tab_index, Command2},
      {form1_layout.dp1.tab_index, dp1.handle()},  {form1_layout.tp1.tab_index, tp1.handle()},
      {form1_layout.dp2.tab_index, dp2.handle()},  {form1_layout.tp2.tab_index, tp2.handle()},
      {form1_layout.Command3.tab_index, Command3}, {form1_layout.Command4.tab_index, Command4}};
  std::sort(order.begin(), order.end());
  for (HWND label : {Label1, Label2, Label4, Label3}) order.emplace_back(-1, label);
  HWND above = HWND_TOP;
  for (const auto& [tab_index, control] : order) {
    ::SetWindowPos(control, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = control;
  }
}

void Win32ConsoleWindow::show() {
  ::ShowWindow(handle_, SW_SHOW);
  ::UpdateWindow(handle_);
  ::SetFocus(::GetNextDlgTabItem(handle_, nullptr, FALSE));
}

void Win32ConsoleWindow::run() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(handle_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

TwipsRect Win32ConsoleWindow::twips_geometry(HWND control) const {
  RECT place{};
  if (control == handle_) {
    // The window itself: its client area, where the form's controls stand.
    ::GetClientRect(handle_, &place);
  } else {
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(HWND_DESKTOP, handle_, reinterpret_cast<POINT*>(&place), 2);
  }
  return {pixels_to_twips(place.left, dpi_x_), pixels_to_twips(place.top, dpi_y_),
          pixels_to_twips(place.right - place.left, dpi_x_),
          pixels_to_twips(place.bottom - place.top, dpi_y_)};
}

void Win32ConsoleWindow::move_credit(std::int32_t left) {
  credit_.left = left;
  const RECT place = pixels(credit_);
  ::SetWindowPos(Label4, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::int32_t Win32ConsoleWindow::outer_width() const {
  RECT frame{};
  ::GetWindowRect(handle_, &frame);
  return pixels_to_twips(frame.right - frame.left, dpi_x_);
}

void Win32ConsoleWindow::Timer1_Timer() {
  move_credit(next_credit_left(credit_.left, credit_.width, outer_width()));
}

LRESULT CALLBACK Win32ConsoleWindow::window_procedure(HWND window, UINT message, WPARAM w,
                                                      LPARAM l) {
  auto* self = reinterpret_cast<Win32ConsoleWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, w, l);
  return self->handle_message(message, w, l);
}

LRESULT Win32ConsoleWindow::handle_message(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(w) != BN_CLICKED) break;
      switch (LOWORD(w)) {
        case Command1_id:
          run_action([this] { form_.Command1_Click(); });
          return 0;
        case Command2_id:
          run_action([this] { form_.Command2_Click(); });
          return 0;
        case Command3_id:
          run_action([this] { form_.Command3_Click(); });
          return 0;
        case Command4_id:
          run_action([this] { form_.Command4_Click(); });
          return 0;
        default:
          break;
      }
      break;
    case WM_TIMER:
      if (w == Timer1.id()) Timer1_Timer();
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC context = reinterpret_cast<HDC>(w);
      const HWND control = reinterpret_cast<HWND>(l);
      if (control == Label3) {
        ::SetBkColor(context, colour(form1_layout.strip_colour));
        return reinterpret_cast<LRESULT>(strip_brush_.get());
      }
      if (control == Label4) {
        // No background of its own, so the strip shows through around the credit's letters.
        ::SetTextColor(context, colour(form1_layout.credit_colour));
        ::SetBkMode(context, TRANSPARENT);
        return reinterpret_cast<LRESULT>(strip_brush_.get());
      }
      ::SetBkColor(context, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      ::ShowWindow(handle_, SW_HIDE);
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(handle_, message, w, l);
}

void Win32ConsoleWindow::run_action(const std::function<void()>& action) {
  // Once the error path has begun, the program is ending: nothing else runs.
  if (failed_) return;
  try {
    action();
  } catch (...) {
    fail(std::current_exception());
  }
}

void Win32ConsoleWindow::fail(const std::exception_ptr& error) {
  failed_ = true;
  Timer1.stop();
  const ActionFailure failure = action_failure(error);
  std::fprintf(stderr, "%s\n", failure.line.c_str());
  const std::wstring message = wide_text(failure.box_text);
  const std::wstring title = wide_text(window_text(handle_));
  ::MessageBoxW(handle_, message.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
  ::ShowWindow(handle_, SW_HIDE);
  ::PostQuitMessage(1);
}

}  // namespace ravel
