#include "console/win32/dialogs.h"

#include <commdlg.h>

#include <cwchar>
#include <string>

#include "console/win32/text.h"

namespace ravel {

std::filesystem::path Win32Dialogs::choose_update_file() {
  // Room for the longest path the system takes.
  std::wstring file(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  // The program finds its files by its own folder, not by the current one, which the dialog
  // would otherwise change.
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameW(&dialog)) return {};
  file.resize(std::wcslen(file.c_str()));
  return std::filesystem::path(file);
}

void Win32Dialogs::show_message(std::string_view text) {
  const std::wstring title = wide_text(window_text(owner_));
  ::MessageBoxW(owner_, wide_text(text).c_str(), title.c_str(), MB_OK);
}

}  // namespace ravel
