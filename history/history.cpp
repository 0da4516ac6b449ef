#include "history/history.h"

namespace ravel {}  // namespace ravel
