// RTCM 3 frames found in a byte stream: preamble 0xD3, six zero bits, a 10-bit payload length, the
// payload and its CRC-24Q. The scanner is pure (bytes in, whole checked frames out) and keeps at most
// one frame's worth of bytes between calls. Bytes that are not part of a valid frame (noise, a frame
// cut short or with a wrong checksum) are skipped and counted, never passed on.
// Threads: one scanner is used by one thread at a time. Failure: none, bad input is only counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vg::rtcm3 {

inline constexpr std::uint8_t kPreamble = 0xD3;
inline constexpr std::size_t kMaxPayload = 1023;
inline constexpr std::size_t kMaxFrame = 3 + kMaxPayload + 3;

// CRC-24Q (Qualcomm, polynomial 0x1864CFB, initial value 0) of `size` bytes.
std::uint32_t crc24q(const std::uint8_t* data, std::size_t size);

struct Frame {
    std::vector<std::uint8_t> bytes;  // the whole frame: header, payload and checksum
    int type = 0;                     // message number (first 12 bits of the payload); 0 when empty
};

class FrameScanner {
public:
    // Appends to `out` each frame completed by `data` (a frame may span calls).
    void feed(const std::uint8_t* data, std::size_t size, std::vector<Frame>& out);

    std::uint64_t frames() const { return frames_; }
    // Frames whose header was sound but whose checksum failed.
    std::uint64_t bad_frames() const { return bad_frames_; }
    // Bytes dropped: noise between frames and the bytes of bad frames' preambles.
    std::uint64_t skipped_bytes() const { return skipped_bytes_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::uint64_t frames_ = 0;
    std::uint64_t bad_frames_ = 0;
    std::uint64_t skipped_bytes_ = 0;
};

}  // namespace vg::rtcm3
