// Checks shared by the receiver fuzz targets: two fix records hold the same values (the tests' own
// comparison, tests/support/fix_compare.h), and no text field of a record has lost its terminator.
#pragma once

#include <cstdlib>
#include <cstring>

#include "gps/fix_record.h"
#include "support/fix_compare.h"

namespace vg::fuzz {

using test::same_fix;

// Aborts (a finding) when a text field has no terminator.
inline void check_terminated(const FixRecord& fix) {
    if (!std::memchr(fix.last_message, '\0', sizeof fix.last_message)) std::abort();
    if (!std::memchr(fix.utc_text, '\0', sizeof fix.utc_text)) std::abort();
    if (!std::memchr(fix.local_text, '\0', sizeof fix.local_text)) std::abort();
    if (!std::memchr(fix.talker, '\0', sizeof fix.talker)) std::abort();
    if (fix.sky_count < 0 || fix.sky_count > vg::kSkyEntries) std::abort();
}

}  // namespace vg::fuzz
