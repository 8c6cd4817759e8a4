#include "platform/process.h"

namespace vg {

ProcessResult run_process(const std::string&, const std::vector<std::string>&,
                          const std::function<void(std::string_view)>&, const std::atomic<bool>*) {
    ProcessResult result;
    result.error = "running other programs is not available in this build";
    return result;
}

}  // namespace vg
