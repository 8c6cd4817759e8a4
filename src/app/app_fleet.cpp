#include "app/app.h"

namespace vg {

void App::device_report(const DeviceReport&) {}

}  // namespace vg
