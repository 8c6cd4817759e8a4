// Line framing for the text dialects (NMEA, gpsd's JSON reports): bytes arrive in reads of any size,
// lines end at LF. A line longer than the buffer is dropped whole, up to and including its LF, so
// hostile input can neither overrun the buffer nor splice the tail of a long line onto the next one.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vg {

template <std::size_t kMaxLine>
class LineAssembler {
public:
    // Keeps the bytes of an unfinished line and calls `line(text)` with every line they complete: the
    // bytes before the LF (a CR before it is kept: what else to strip is the dialect's choice). The
    // text lives in the buffer until `line` returns.
    template <typename OnLine>
    void feed(const char* p, std::size_t size, OnLine&& line) {
        const char* const end = p + size;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* stop = lf ? lf : end;
            const std::size_t count = static_cast<std::size_t>(stop - p);
            if (!discarding_) {
                if (count <= kMaxLine - length_) {
                    std::memcpy(line_ + length_, p, count);
                    length_ += count;
                } else {
                    discarding_ = true;
                    length_ = 0;
                }
            }
            if (!lf) break;
            if (!discarding_) line(std::string_view(line_, length_));
            discarding_ = false;
            length_ = 0;
            p = lf + 1;
        }
    }

    // Bytes of an unfinished line waiting in the buffer (0 while an overlong line is skipped).
    std::size_t pending() const { return discarding_ ? 0 : length_; }

private:
    char line_[kMaxLine];
    std::size_t length_ = 0;
    bool discarding_ = false;
};

}  // namespace vg
