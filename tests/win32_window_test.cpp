// The Win32 console window on a display (under wine, Xvfb's): its layout in twips, pickers,
// marquee, buttons and error path, with the system's own dialogs played by the test.

// windows.h comes first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <commctrl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "console/win32/text.h"
#include "console/win32/window.h"
#include "pipeline/edition.h"
#include "pipeline/failure.h"
#include "pipeline/platform.h"
#include "pipeline/report.h"
#include "tests/test_folder.h"
#include "tests/window_scenarios.h"

namespace ravel {
namespace {

// Handles the window's messages until `done` holds or `seconds` have passed.
bool pump_until(const std::function<bool()>& done, int seconds = 5) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::Sleep(5);
  }
  return true;
}

// Plays the operator at the modal dialogs, which run their own message loops: picks `choice` in
// the file-open dialog (cancels it when empty) and notes every message box before pressing its
// OK button.
class Operator {
 public:
  struct Box {
    std::string title, text;
    bool icon;
    bool cancel_button;
  };

  explicit Operator(std::string choice = {}) : choice_(std::move(choice)) {
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 10, &Operator::look);
  }
  Operator(const Operator&) = delete;
  Operator& operator=(const Operator&) = delete;
  ~Operator() {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
  }

  std::vector<Box> boxes;

 private:
  static void CALLBACK look(HWND, UINT, UINT_PTR, DWORD) {
    if (current_ != nullptr) ::EnumThreadWindows(::GetCurrentThreadId(), &answer, 0);
  }

  // Answers a dialog of this thread: the file-open dialog has a file name box, a message box its
  // text in the static control 0xFFFF.
  static BOOL CALLBACK answer(HWND window, LPARAM) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring_view(name) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
    Operator& self = *current_;
    HWND file_name = ::GetDlgItem(window, cmb13);
    if (file_name == nullptr) file_name = ::GetDlgItem(window, edt1);
    if (file_name != nullptr) {
      ::SetWindowTextW(file_name, wide_text(self.choice_).c_str());
      ::PostMessageW(window, WM_COMMAND, self.choice_.empty() ? IDCANCEL : IDOK, 0);
      return FALSE;
    }
    bool shows_icon = false;
    for (HWND control = ::FindWindowExW(window, nullptr, L"Static", nullptr); control != nullptr;
         control = ::FindWindowExW(window, control, L"Static", nullptr)) {
      shows_icon = shows_icon || ::SendMessageW(control, STM_GETICON, 0, 0) != 0;
    }
    self.boxes.push_back({window_text(window), window_text(::GetDlgItem(window, 0xFFFF)),
                          shows_icon, ::GetDlgItem(window, IDCANCEL) != nullptr});
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    return FALSE;
  }

  static inline Operator* current_ = nullptr;
  std::string choice_;
  UINT_PTR timer_;
};

class win32_window_test : public ::testing::Test {
 protected:
  testing::TestFolder folder;
  testing::TestFolder store;
  Win32ConsoleWindow window{folder.path(), store.path()};
};

TEST_F(win32_window_test, controls_stand_at_their_designed_places_with_their_captions) {
  const TwipsRect client = window.twips_geometry(window.handle());
  EXPECT_EQ(client.width, 8835);
  EXPECT_EQ(client.height, 7635);
  const struct {
    HWND control;
    TwipsRect rect;
    const char* caption;  // nullptr: ours to choose
  } designed[] = {
      {window.Label1, {600, 360, 1155, 195}, "Start Date & Time"},
      {window.Label2, {4800, 360, 1110, 195}, "End Date & Time"},
      {window.dp1.handle(), {600, 600, 1815, 375}, nullptr},
      {window.tp1.handle(), {2400, 600, 1815, 375}, nullptr},
      {window.dp2.handle(), {4800, 600, 1815, 375}, nullptr},
      {window.tp2.handle(), {6600, 600, 1815, 375}, nullptr},
      {window.Command4, {5520, 4440, 1695, 735}, "HTML Report"},
      {window.Command1, {1200, 6360, 1695, 735}, "Process"},
      {window.Command2, {5040, 6360, 1575, 615}, "Update Database"},
      {window.Command3, {9480, 5280, 1335, 615}, "Command3"},
      {window.Text1, {8760, 720, 1455, 375}, ""},
      {window.Text2, {8760, 1800, 1455, 375}, ""},
      {window.Label3, {0, 7320, 10935, 375}, ""},
      {window.Label4, {0, 7320, 3915, 285}, nullptr},
  };
  for (const auto& row : designed) {
    TwipsRect rect = window.twips_geometry(row.control);
    // The caption labels are sized to their text: never narrower than designed.
    if (row.control == window.Label1 || row.control == window.Label2) {
      EXPECT_GE(rect.width, row.rect.width) << row.caption;
      rect.width = row.rect.width;
    }
    EXPECT_EQ(rect, row.rect) << (row.caption ? row.caption : window_text(row.control));
    if (row.caption) {
      EXPECT_EQ(window_text(row.control), row.caption);
    }
  }
  EXPECT_EQ(window_text(window.Label4).rfind("Ravelbook", 0), 0u);
  EXPECT_EQ(window_text(window.handle()), "Ravelbook " RAVEL_VERSION);
  // The credit is drawn over the strip.
  EXPECT_EQ(::GetWindow(window.Label4, GW_HWNDNEXT), window.Label3);
}

TEST_F(win32_window_test, tab_moves_focus_in_the_designed_order) {
  window.show();
  const HWND order[] = {window.Command1,     window.Text1,        window.Text2,
                        window.Command2,     window.dp1.handle(), window.tp1.handle(),
                        window.dp2.handle(), window.tp2.handle(), window.Command3,
                        window.Command4,     window.Command1};
  for (const HWND expected : order) {
    HWND focus = ::GetFocus();
    // The picker's own edit field, where there is one, has the focus in the picker's place.
    if (::GetParent(focus) != window.handle()) focus = ::GetParent(focus);
    EXPECT_EQ(focus, expected) << window_text(expected);
    // The key as the window's message loop passes it on.
    MSG tab{::GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    ::IsDialogMessageW(window.handle(), &tab);
  }
}

TEST_F(win32_window_test, pickers_start_on_1_february_2011_and_time_pickers_show_the_time) {
  EXPECT_EQ(window_text(window.tp1.handle()), "2011-02-01");
  window.set_up_time_pickers();
  const Win32Picker* pickers[] = {&window.dp1, &window.tp1, &window.dp2, &window.tp2};
  const char* shown[] = {"2011-02-01", "00:00:00", "2011-02-01", "00:00:00"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(window_text(pickers[i]->handle()), shown[i]);

  // A time picker shows and keeps the time of day; its date stays as it was.
  window.tp1.set_Value({{2011, 2, 1}, 13 * 3600 + 45 * 60 + 10});
  EXPECT_EQ(window_text(window.tp1.handle()), "13:45:10");
  const LocalDateTime value = window.tp1.Value();
  EXPECT_EQ(value.second_of_day, 13 * 3600 + 45 * 60 + 10);
  EXPECT_EQ(value.date.year * 10000 + value.date.month * 100 + value.date.day, 20110201);

  // The calendar runs from 14 September 1752 to 9999; beyond it a value is held at the nearer
  // end, where it overflows in the form as any date before 1901-12-13 does.
  const struct {
    LocalDateTime set;
    int shown;  // YYYYMMDD
  } ends[] = {{{{1752, 9, 14}, 0}, 17520914},
              {{{1601, 1, 1}, 0}, 17520914},
              {{{9999, 12, 31}, 86399}, 99991231}};
  for (const auto& end : ends) {
    window.dp2.set_Value(end.set);
    const CivilDate date = window.dp2.Value().date;
    EXPECT_EQ(date.year * 10000 + date.month * 100 + date.day, end.shown);
  }
  EXPECT_THROW(window.dp1.set_Format(2), Failure);
}

TEST_F(win32_window_test, timer_ticks_move_the_credit_and_wrap_it_at_the_outer_width) {
  EXPECT_EQ(window.Timer1.interval(), 70);
  window.Timer1.stop();
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), -100);
  EXPECT_EQ(window.twips_geometry(window.Label4).left, -105);  // -7 pixels at 96 DPI.

  window.move_credit(-3914);  // Right edge 1.
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), -4014);
  window.Timer1_Timer();
  EXPECT_EQ(window.credit_left(), window.outer_width());
  EXPECT_EQ(window.twips_geometry(window.Label4).top, 7320);

  // Running, the timer moves the credit by itself.
  window.move_credit(0);
  window.Timer1.start();
  EXPECT_TRUE(pump_until([&] { return window.credit_left() <= -200; }));
}

TEST_F(win32_window_test, process_button_writes_the_job_table_and_the_report_of_the_picked_window) {
  testing::write_process_inputs(folder);
  window.set_up_time_pickers();
  window.tp1.set_Value({{2011, 2, 1}, 13 * 3600 + 45 * 60 + 10});
  window.tp2.set_Value({{2011, 2, 1}, 13 * 3600 + 50 * 60});
  window.show();
  ::SendMessageW(window.Command1, BM_CLICK, 0, 0);

  EXPECT_EQ(folder.read("out1.txt"), testing::process_table());
  EXPECT_NE(folder.read(report_file_name(local_today())).find(testing::process_report_window),
            std::string::npos);
}

TEST_F(win32_window_test, update_button_merges_the_file_picked_in_the_dialog) {
  window.show();
  for (const testing::UpdateCase& c : testing::update_cases()) {
    store.write("bpdbjobs.txt", testing::stored_listing);
    folder.write("update.txt", c.update ? c.update : "");
    Operator person(c.update ? (folder / "update.txt").string() : "");
    ::SendMessageW(window.Command2, BM_CLICK, 0, 0);

    EXPECT_EQ(store.read("bpdbjobs.txt"), c.stored_after) << c.message;
    ASSERT_EQ(person.boxes.size(), c.message ? 1u : 0u);
    if (!c.message) continue;
    EXPECT_EQ(person.boxes[0].text, c.message);
    EXPECT_FALSE(person.boxes[0].icon);
    EXPECT_FALSE(person.boxes[0].cancel_button);
    EXPECT_EQ(person.boxes[0].title, window_text(window.handle()));
  }
}

TEST_F(win32_window_test, a_failing_handler_reports_the_error_and_ends_the_program) {
  Operator person;
  window.show();
  ::testing::internal::CaptureStderr();
  ::SendMessageW(window.Command4, BM_CLICK, 0, 0);  // No job table in the folder.
  const std::string line = ::testing::internal::GetCapturedStderr();
  MSG quit{};
  EXPECT_TRUE(
      pump_until([&] { return ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); }));
  EXPECT_EQ(quit.wParam, 1u);

  EXPECT_EQ(line.rfind("ravelbook: error 53: File not found", 0), 0u) << line;
  ASSERT_EQ(person.boxes.size(), 1u);
  EXPECT_EQ(person.boxes[0].text.rfind("error 53: File not found", 0), 0u);
  EXPECT_TRUE(person.boxes[0].icon);
  EXPECT_FALSE(person.boxes[0].cancel_button);
  EXPECT_EQ(person.boxes[0].title, window_text(window.handle()));
  EXPECT_TRUE(window.failed());
  EXPECT_FALSE(::IsWindowVisible(window.handle()));
  EXPECT_FALSE(window.Timer1.is_active());
  ::SendMessageW(window.Command4, BM_CLICK, 0, 0);  // The program is ending: nothing runs.
  EXPECT_EQ(person.boxes.size(), 1u);
}

// Saves the window's client area as a PNG file.
bool save_screenshot(HWND window, const std::wstring& path) {
  RECT client{};
  ::GetClientRect(window, &client);
  HDC screen = ::GetDC(window);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
  const HGDIOBJ earlier = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
  ::SelectObject(memory, earlier);
  ::DeleteDC(memory);
  ::ReleaseDC(window, screen);

  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  bool saved = false;
  {
    Gdiplus::Bitmap image(bitmap, nullptr);
    // The PNG encoder's class identifier.
    const CLSID png = {
        0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    saved = image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
  }
  Gdiplus::GdiplusShutdown(token);
  ::DeleteObject(bitmap);
  return saved;
}

TEST_F(win32_window_test, screenshot_shows_the_window_with_its_navy_strip) {
  window.set_up_time_pickers();
  window.Timer1.stop();
  window.show();
  // Over any window another test shows meanwhile.
  ::SetWindowPos(window.handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  pump_until([] { return false; }, 1);
  RECT client{};
  ::GetClientRect(window.handle(), &client);
  HDC screen = ::GetDC(window.handle());
  // Right of the credit, the strip shows its own colour.
  EXPECT_EQ(::GetPixel(screen, client.right - 10, client.bottom - 5), RGB(0, 0, 128));
  ::ReleaseDC(window.handle(), screen);
  EXPECT_TRUE(save_screenshot(window.handle(),
                              wide_text(RAVEL_BUILD_FOLDER "/ravelbook-window-windows.png")));
}

}  // namespace
}  // namespace ravel

// The window's controls need the common controls set up first.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_DATE_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  return RUN_ALL_TESTS();
}
