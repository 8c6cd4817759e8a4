// The window thread never waits for the network. A thread that must not wait marks itself with a
// NoNetworkWaits guard for its lifetime; every blocking network call (Fetcher::fetch, the own HTTP
// client's requests) notes itself, and a call made on a marked thread is counted, so a test driving
// the window side can show that none happened.
#pragma once

#include <cstddef>

namespace vg {

class NoNetworkWaits {
public:
    NoNetworkWaits();
    ~NoNetworkWaits();
    NoNetworkWaits(const NoNetworkWaits&) = delete;
    NoNetworkWaits& operator=(const NoNetworkWaits&) = delete;

    // Blocking network calls made on a marked thread since the program started.
    static std::size_t breaches();

private:
    bool was_marked_;
};

// Called at the start of every blocking network call.
void note_network_wait();

}  // namespace vg
