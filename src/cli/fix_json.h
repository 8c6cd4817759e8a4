// The fix record as one line of JSON, the form `vortool decode` prints and scripts read.
#pragma once

#include <string>
#include <string_view>

#include "gps/fix_record.h"

namespace vg::cli {

// {"utc": ..., "local": ..., "lat": ..., "lon": ..., "alt": ..., "speed_knots": ..., "course": ...,
//  "fix": ..., "sats_in_view": ..., "satellites": [12 × {"prn", "elevation", "azimuth", "snr",
//  "used"}], "last_message": ..., "talker": ..., "sky": [every satellite in view × {"system", "prn",
//  "elevation", "azimuth", "snr", "used"}]} on one line, without a line end. Doubles are written in the
// shortest form that reads back to the same value (non-finite ones as null); bytes outside printable
// ASCII are escaped as \u00XX.
std::string fix_to_json(const FixRecord& fix);

// Appends a double as described above.
void append_json_number(std::string& out, double value);

// Appends `text` as a quoted JSON string, each byte outside printable ASCII as \u00XX (receiver
// bytes are not text in any known encoding).
void append_json_string(std::string& out, std::string_view text);

// Appends UTF-8 `text` (attributions, device makers) as a quoted JSON string: well-formed sequences pass
// as they are, control characters are escaped and a byte that is not UTF-8 becomes U+FFFD.
void append_json_utf8(std::string& out, std::string_view text);

}  // namespace vg::cli
