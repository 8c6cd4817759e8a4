// The texts the GPS monitor shows for one refresh, made from a copy of the fix record. No toolkit
// types: the Qt dialog shows them, tests read them directly.
#pragma once

#include <string>

#include <optional>

#include "app/view_text.h"
#include "gps/fix_record.h"
#include "gps/receiver.h"
#include "platform/window.h"

namespace vg {

// Room of the message control, in characters, the leading blank included.
inline constexpr std::size_t kMonitorMessageMax = 48;

// Text of the message and table controls before the first refresh.
inline constexpr const char* kMonitorBlank = " ";

// The satellite table header (tab-separated columns).
inline constexpr const char* kMonitorHeader = "PRN\t AZM\tELV\t SS\t USE";

// One refresh: the UTC time, the position line or "No Fix", the last message (a blank in front, 48
// characters in all), the table header, and one row per satellite slot below sats_in_view. The table
// ends early at a slot whose elevation is above 90 (the receiver's end-of-list mark) and after the
// twelfth row; rows not written stay nullopt, so the dialog keeps their earlier text.
// Texts of the record that lack their terminator are read only up to the end of their field.
// `sky` lists the record's sky table, every system, in its order (at most kSkyEntries rows).
MonitorTexts gps_monitor_texts(const FixRecord& fix);
// The same, with the height of the ground at the position after the position line ("  Ground 123 m",
// feet when speeds are in mph) when it is known and there is a fix.
MonitorTexts gps_monitor_texts(const FixRecord& fix, std::optional<double> ground_metres, SpeedUnit unit);

// The fix's quality as one line (see MonitorTexts::quality): the quality's name when it is better
// than a plain fix, the corrections' age and station, and the horizontal error; "" when none is known.
std::string fix_quality_text(const FixRecord& fix);

// The receiver's line: "Receiver: " and its state's name, then " - " and the cause when there is one.
std::string receiver_monitor_text(const ReceiverStatus& status);

}  // namespace vg
