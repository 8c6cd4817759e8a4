// The real receiver captures in the test data (tests/data/receivers, listed in its README.md).
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

}  // namespace vg::test
