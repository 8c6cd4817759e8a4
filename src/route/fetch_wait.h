// One transfer of the fetcher waited for a tenth of a second at a time, so that a cancel flag set by
// another thread ends it (the fetcher cancels the transfer; the result is then `cancelled`).
// Any thread but the fetcher's engine thread.
#pragma once

#include <atomic>

#include "net/fetcher.h"

namespace vg::route {

FetchResult fetch_cancellable(Fetcher& fetcher, FetchRequest request, const std::atomic<bool>* cancel);

}  // namespace vg::route
