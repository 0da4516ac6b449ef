// The window module on Windows: ravelbook-window.dll, which ravelbook loads only to show its
// window.

// <commctrl.h> needs <windows.h> before it.
// clang-format off
#include "console/win32/window.h"
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <exception>
#include <type_traits>

#include "console/window_module.h"
#include "pipeline/command_line.h"
#include "pipeline/platform.h"

extern "C" __declspec(dllexport) int ravelbook_window_main(int*, char**, const char* folder,
                                                           const char* store_folder,
                                                           int any_owner) {
  // Nothing thrown here crosses into the program, whose runtime is a copy of its own.
  try {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_DATE_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ravel::Win32ConsoleWindow window(ravel::path_from_utf8(folder),
                                     ravel::path_from_utf8(store_folder));
    if (any_owner != 0) window.set_owner_rule(ravel::OwnerRule::any_owner);
    window.set_up_time_pickers();
    window.show();
    window.run();
    return window.failed() ? 1 : 0;
  } catch (...) {
    std::fprintf(
        stderr, "%s\n",
        ravel::failure_line(ravel::console_program_name, std::current_exception()).c_str());
    return 1;
  }
}

// The program checks the entry's type where it looks the entry up.
static_assert(std::is_same_v<decltype(&ravelbook_window_main), ravel::WindowMain>);
