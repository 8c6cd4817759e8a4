#include "gps/rtcm3.h"

#include <algorithm>
#include <array>

namespace vg::rtcm3 {

namespace {

constexpr std::array<std::uint32_t, 256> make_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000u) crc ^= 0x1864CFBu;
        }
        table[i] = crc & 0xFFFFFFu;
    }
    return table;
}

constexpr auto kTable = make_table();

}  // namespace

std::uint32_t crc24q(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) crc = ((crc << 8) & 0xFFFFFFu) ^ kTable[(crc >> 16) ^ data[i]];
    return crc;
}

void FrameScanner::feed(const std::uint8_t* data, std::size_t size, std::vector<Frame>& out) {
    buffer_.insert(buffer_.end(), data, data + size);
    std::size_t pos = 0;
    const std::size_t n = buffer_.size();
    while (pos < n) {
        if (buffer_[pos] != kPreamble) {
            const auto next = std::find(buffer_.begin() + static_cast<std::ptrdiff_t>(pos), buffer_.end(), kPreamble);
            const auto at = static_cast<std::size_t>(next - buffer_.begin());
            skipped_bytes_ += at - pos;
            pos = at;
            continue;
        }
        if (n - pos < 3) break;
        if ((buffer_[pos + 1] & 0xFC) != 0) {  // reserved bits set: not a frame start
            ++skipped_bytes_;
            ++pos;
            continue;
        }
        const std::size_t length = (static_cast<std::size_t>(buffer_[pos + 1] & 0x03) << 8) | buffer_[pos + 2];
        const std::size_t whole = 3 + length + 3;
        if (n - pos < whole) break;
        const std::uint8_t* frame = buffer_.data() + pos;
        const std::uint32_t sent = (static_cast<std::uint32_t>(frame[3 + length]) << 16) |
                                   (static_cast<std::uint32_t>(frame[4 + length]) << 8) | frame[5 + length];
        if (crc24q(frame, 3 + length) != sent) {
            ++bad_frames_;
            ++skipped_bytes_;
            ++pos;  // the frame may have been noise hiding a real preamble: look again just after
            continue;
        }
        Frame f;
        f.bytes.assign(frame, frame + whole);
        f.type = length >= 2 ? (frame[3] << 4) | (frame[4] >> 4) : 0;
        out.push_back(std::move(f));
        ++frames_;
        pos += whole;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
}

}  // namespace vg::rtcm3
