// gpsd's RTCM 3 capture (tests/data/rtcm3) as the corrections tests use it: its bytes (a cut frame at
// the start, as recorded) and its valid frames, which are all a receiver may be given.
#pragma once

#include <string>
#include <vector>

#include "gps/rtcm3.h"
#include "support/test_paths.h"

namespace vg::test {

struct Rtcm3Capture {
    std::string bytes;
    std::vector<rtcm3::Frame> frames;
    std::string valid;  // the frames joined
};

inline Rtcm3Capture rtcm3_capture() {
    Rtcm3Capture c;
    c.bytes = read_file(shared_testdata() / "rtcm3" / "rtcm3.2.rtcm3");
    rtcm3::FrameScanner scanner;
    scanner.feed(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), c.frames);
    for (const auto& f : c.frames) c.valid.append(f.bytes.begin(), f.bytes.end());
    return c;
}

}  // namespace vg::test
