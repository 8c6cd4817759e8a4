// The real receiver captures in the test data (tests/data/receivers, listed in its README.md), for
// the tests and the benchmarks.
#pragma once

#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace vg::test {

inline std::filesystem::path receivers_dir() { return shared_testdata() / "receivers"; }

// The bytes an NMEA receiver sent in capture `name` (receivers/<name>.log): every line that starts
// with '#' is a comment of the capture, not receiver output; everything else is kept exactly.
inline std::string nmea_log_bytes(const std::string& name) {
    const std::string raw = read_file(receivers_dir() / (name + ".log"));
    std::string out;
    std::size_t start = 0;
    while (start < raw.size()) {
        const std::size_t lf = raw.find('\n', start);
        const std::size_t end = lf == std::string::npos ? raw.size() : lf + 1;
        if (raw[start] != '#') out.append(raw, start, end - start);
        start = end;
    }
    return out;
}

// The body of a binary capture (Zodiac, Garmin): the leading block of "#" lines removed, the rest as
// it is (the body itself holds "#", CR and LF bytes). Empty when the file is only header.
inline std::string binary_log_body(const std::filesystem::path& path) {
    const std::string all = read_file(path);
    std::size_t pos = 0;
    while (pos < all.size() && all[pos] == '#') {
        const auto end = all.find('\n', pos);
        if (end == std::string::npos) return {};
        pos = end + 1;
    }
    return all.substr(pos);
}

}  // namespace vg::test
