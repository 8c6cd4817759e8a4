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
// ASCII are written as JsonText::receiver_bytes.
std::string fix_to_json(const FixRecord& fix);

// Appends a double as described above.
void append_json_number(std::string& out, double value);

// How append_json_string writes the bytes of a text; '"' and '\\' are escaped with a backslash in
// every mode, other escapes are lower-case \u00XX.
enum class JsonText {
    // Receiver bytes (`decode`, `watch`): not text in any known encoding, each byte is one code point.
    // \b \f \n \r \t in their short forms; other control bytes and bytes from 0x80 escaped.
    receiver_bytes,
    // Paths and setting values (`tile`, `state`, `fetch`): every control byte, DEL and byte from 0x80
    // escaped, so the line is plain ASCII.
    ascii,
    // UTF-8 text (`sources`, `ports`: attributions, device makers): well-formed sequences pass as they
    // are, control bytes are escaped, a byte that is not UTF-8 becomes \ufffd.
    utf8,
};

// Appends `text` as a quoted JSON string, written as `mode` says.
void append_json_string(std::string& out, std::string_view text, JsonText mode);

}  // namespace vg::cli
