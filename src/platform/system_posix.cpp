#include <sys/utsname.h>
#include <unistd.h>

#include "platform/system.h"

namespace vg {

int current_thread_id() {
    const int id = static_cast<int>(gettid());
    return id != 0 ? id : 1;
}

const char* system_name() { return "Linux"; }

std::string system_release() {
    utsname name{};
    return uname(&name) == 0 ? name.release : "";
}

}  // namespace vg
