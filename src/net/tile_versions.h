// The tile version texts: short texts that some tile services need in their tile addresses. The
// connectivity probe publishes them once on its own thread; the tile code reads them at any time.
#pragma once

#include <atomic>
#include <string_view>

namespace vg {

// A text of up to 2 characters, empty until published; published at most once.
class TileVersionText {
public:
    // Publishes `text` (cut to 2 characters). Returns false when a text was already published.
    bool publish(std::string_view text);
    // The published text, or empty. Safe from any thread.
    std::string_view get() const;

private:
    char text_[3] = {};
    std::atomic<int> state_{0};  // 0 empty, 1 being written, 2 published
};

struct TileVersions {
    TileVersionText google_aerial;        // "/kh/v=%s&..." of Google satellite tiles
    TileVersionText virtual_earth_road;   // "?g=%s" of Virtual Earth road tiles
    TileVersionText virtual_earth_aerial; // "?g=%s" of Virtual Earth aerial tiles
};

}  // namespace vg
