#include "net/network_wait.h"

#include <atomic>

namespace vg {

namespace {
thread_local bool t_marked = false;
std::atomic<std::size_t> g_breaches{0};
}  // namespace

NoNetworkWaits::NoNetworkWaits() : was_marked_(t_marked) { t_marked = true; }
NoNetworkWaits::~NoNetworkWaits() { t_marked = was_marked_; }

std::size_t NoNetworkWaits::breaches() { return g_breaches.load(); }

void note_network_wait() {
    if (t_marked) g_breaches.fetch_add(1);
}

}  // namespace vg
