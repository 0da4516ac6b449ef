#include "history/history.h"

namespace ravel {

std::string render_dashboard(const HealthView&) { return {}; }

}  // namespace ravel
