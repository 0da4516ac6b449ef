#include "history/history.h"

namespace ravel {

std::string render_metrics(const HealthView&) { return {}; }

}  // namespace ravel
