#pragma once
// The entry point of the window module, which ravelbook loads only to show its window, and its
// loading.

#include <filesystem>
#include <string_view>

namespace ravel {

// Shows the console window over the data folder `folder` until it is closed; 0 then, 1 when a
// handler failed and the window's error path ended the program. `any_owner` not 0: the actions
// may work in folders of other users.
using WindowMain = int (*)(int* argc, char** argv, const char* folder, const char* store_folder,
                           int any_owner);
inline constexpr const char* window_main_name = "ravelbook_window_main";

// Loads the module and finds its entry point; a missing module fails with "File not found".
WindowMain load_window_main(const std::filesystem::path& path, std::string_view display_name);

}  // namespace ravel
