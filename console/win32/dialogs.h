#pragma once
// The update's dialogs on screen: the system's file-open dialog and a plain message box, both
// modal to the console window and titled as it is.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#include <string_view>

#include "console/form1.h"

namespace ravel {

class Win32Dialogs : public ConsoleDialogs {
 public:
  explicit Win32Dialogs(HWND owner) : owner_(owner) {}

  // No filter and no title of its own; an existing file only; empty when the operator cancels.
  std::filesystem::path choose_update_file() override;
  // No icon and an OK button only.
  void show_message(std::string_view text) override;

 private:
  HWND owner_;
};

}  // namespace ravel
