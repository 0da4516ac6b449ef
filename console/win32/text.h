#pragma once
// The window's text in UTF-8 (wide_text and utf8_text, from the platform layer, convert).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "pipeline/platform.h"

namespace ravel {

// The text a window shows: its caption, or what a text box or a picker holds.
inline std::string window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return utf8_text(text);
}

}  // namespace ravel
