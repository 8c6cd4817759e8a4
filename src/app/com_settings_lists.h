// The contents and rules of the COM settings dialog, free of any toolkit: the five lists (each item a
// text and the value it stands for), which items start selected, and the line settings that OK makes
// from the dialog's final state. The Qt dialog only shows these and reports the user's choices.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/window.h"

namespace vg {

struct ComListItem {
    std::string text;
    long value = 0;
};

enum class ComList { port, baud_rate, data_bits, parity, stop_bits };
inline constexpr std::array<ComList, 5> kComLists = {ComList::port, ComList::baud_rate, ComList::data_bits,
                                                     ComList::parity, ComList::stop_bits};

// Ports offered: COM1 to COM9.
inline constexpr int kComPortCount = 9;

// The items of one list, in display order: "COM1".."COM9" → 1..9; "1200".."115.2k" → bits per
// second; "5".."8" → data bits; "None" 0, "Even" 2, "Odd" 1, "Mark" 3, "Space" 4; "1" → 0 (one stop
// bit, the only choice).
const std::vector<ComListItem>& com_list_items(ComList list);

// The index of the item whose value equals `value`, or -1 when none does.
int com_list_index(ComList list, long value);

// The state of the dialog's controls: one selected index per list (-1 = nothing selected) and the
// three flow check boxes.
struct ComDialogChoices {
    std::array<int, kComLists.size()> selected{-1, -1, -1, -1, -1};
    bool dtr_dsr = false;
    bool rts_cts = false;
    bool xon_xoff = false;

    int& operator[](ComList list) { return selected[static_cast<std::size_t>(list)]; }
    int operator[](ComList list) const { return selected[static_cast<std::size_t>(list)]; }
};

// The controls' state when the dialog opens: each list selects the item of the current value, or
// nothing when no item has that value (a hand-edited 7200 baud, two stop bits); each check box is set
// when its bit is in flow_control.
ComDialogChoices initial_com_choices(const ComSettings& current);

// The settings after OK: each field takes the value of its list's selected item, or keeps its current
// value when the list has no (valid) selection; the port keeps its number while port_locked (the port
// of an open link cannot change). flow_control is the sum of the checked boxes' bits.
ComSettings com_settings_after_ok(const ComSettings& current, const ComDialogChoices& choices);

}  // namespace vg
