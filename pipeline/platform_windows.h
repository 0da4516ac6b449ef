#pragma once
// What the Windows platform layer offers beyond the common interface: the copy that keeps a
// file under a second name on a volume without hard links, open to the tests as well.

#include <string_view>

#include "pipeline/platform.h"

namespace ravel {

// Copies the regular file `name` of the folder to the new file `copy_name`, with the earlier
// file's permissions, and puts the copy on the disk; false when `copy_name` is taken. A copy
// that fails halfway is removed.
bool copy_in_folder(const Folder& folder, std::string_view name, std::string_view copy_name);

}  // namespace ravel
