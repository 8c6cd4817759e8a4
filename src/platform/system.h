// Small facts about the running system.
#pragma once

#include <string>

namespace vg {

// A nonzero number naming the calling thread (the kernel's thread id).
int current_thread_id();

// "Linux" or "Windows".
const char* system_name();

// The release of the operating system for the About box: the kernel release on Linux
// ("6.1.0-18-amd64"), the version on Windows ("10.0.19045"); empty when unknown.
std::string system_release();

}  // namespace vg
