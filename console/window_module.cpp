#include "console/window_module.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>
#include <system_error>

#include "pipeline/failure.h"

namespace ravel {

// The module stays loaded until the program ends: the window runs in it until then.
WindowMain load_window_main(const std::filesystem::path& path, std::string_view display_name) {
  std::error_code ignored;
  const ErrorCode missing = std::filesystem::exists(path, ignored) ? ErrorCode::path_file_access
                                                                   : ErrorCode::file_not_found;
#ifdef _WIN32
  HMODULE module = ::LoadLibraryW(path.c_str());
  if (module == nullptr) {
    throw Failure(missing, "cannot load it: system error " + std::to_string(::GetLastError()))
        .in_file(display_name);
  }
  const auto entry = reinterpret_cast<void*>(::GetProcAddress(module, window_main_name));
#else
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) throw Failure(missing, ::dlerror()).in_file(display_name);
  void* const entry = ::dlsym(module, window_main_name);
#endif
  if (entry == nullptr) {
    throw Failure(ErrorCode::path_file_access, std::string("has no ") + window_main_name)
        .in_file(display_name);
  }
  return reinterpret_cast<WindowMain>(entry);
}

}  // namespace ravel
