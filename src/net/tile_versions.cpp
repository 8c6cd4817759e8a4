#include "net/tile_versions.h"

namespace vg {

bool TileVersionText::publish(std::string_view text) {
    int expected = 0;
    if (!state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return false;
    const std::size_t n = text.size() < 2 ? text.size() : 2;
    for (std::size_t i = 0; i < n; ++i) text_[i] = text[i];
    text_[n] = '\0';
    state_.store(2, std::memory_order_release);
    return true;
}

std::string_view TileVersionText::get() const {
    if (state_.load(std::memory_order_acquire) != 2) return {};
    return std::string_view(text_);
}

}  // namespace vg
