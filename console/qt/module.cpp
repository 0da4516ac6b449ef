#include <QApplication>
#include <type_traits>

#include "console/qt/window.h"
#include "console/window_module.h"
#include "pipeline/platform.h"

#ifdef _WIN32
#define RAVEL_EXPORT __declspec(dllexport)
#else
#define RAVEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" RAVEL_EXPORT int ravelbook_window_main(int* argc, char** argv, const char* folder,
                                                  const char* store_folder, int any_owner) {
  QApplication application(*argc, argv);
  ravel::ConsoleWindow window(ravel::path_from_utf8(folder), ravel::path_from_utf8(store_folder));
  if (any_owner != 0) window.set_owner_rule(ravel::OwnerRule::any_owner);
  window.set_up_time_pickers();
  window.show();
  QApplication::exec();
  return window.failed() ? 1 : 0;
}

// The program checks the entry's type where it looks the entry up.
static_assert(std::is_same_v<decltype(&ravelbook_window_main), ravel::WindowMain>);
