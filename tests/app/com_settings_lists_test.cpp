// The COM settings dialog's opening and OK rules, toolkit-free. (The lists' texts and values are
// checked on the real dialog in tests/ui/dialogs_test.cpp.)
#include "app/com_settings_lists.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vg {
namespace {

TEST(ComSettingsLists, OpeningSelectsCurrentValuesOrNothing) {
    const ComSettings current{{4, 4800, 7, 1, 0, kFlowRtsCts | kFlowXonXoff}, false, {}, {}};
    ComDialogChoices choices = initial_com_choices(current);
    EXPECT_EQ(choices.selected, (std::array<int, 5>{3, 2, 2, 2, 0}));  // COM4, "4800", "7", "Odd", "1"
    EXPECT_FALSE(choices.dtr_dsr);
    EXPECT_TRUE(choices.rts_cts);
    EXPECT_TRUE(choices.xon_xoff);

    // Values no item carries (port 0 or 12, a hand-edited 7200 baud, 9 data bits, parity 7, two stop
    // bits): each list opens without a selection.
    choices = initial_com_choices(ComSettings{{0, 7200, 9, 7, 2, kFlowDtrDsr}, false, {}, {}});
    EXPECT_EQ(choices.selected, (std::array<int, 5>{-1, -1, -1, -1, -1}));
    EXPECT_TRUE(choices.dtr_dsr);
    EXPECT_EQ(initial_com_choices(ComSettings{{12, 9600, 8, 0, 0, 0}, false, {}, {}})[ComList::port], -1);
}

TEST(ComSettingsLists, OkTakesSelectionsAndKeepsWhatWasNotChosen) {
    const ComSettings current;  // COM1, 9600 8N1, no flow control
    ComDialogChoices choices = initial_com_choices(current);
    choices[ComList::port] = 3;       // COM4
    choices[ComList::baud_rate] = 6;  // "38.4k"
    choices[ComList::parity] = 1;     // "Even"
    choices.dtr_dsr = choices.xon_xoff = true;
    ComSettings next = com_settings_after_ok(current, choices);
    EXPECT_EQ(next.line.port_number, 4);
    EXPECT_EQ(next.line.baud_rate, 38400u);
    EXPECT_EQ(next.line.byte_size, 8);
    EXPECT_EQ(next.line.parity, 2);
    EXPECT_EQ(next.line.flow_control, kFlowDtrDsr | kFlowXonXoff);

    // The port of an open link stays whatever the (disabled) list holds.
    ComSettings locked = current;
    locked.port_locked = true;
    EXPECT_EQ(com_settings_after_ok(locked, choices).line.port_number, 1);

    // No selection, or an index no item has: the current value stays.
    const ComSettings odd{{2, 7200, 8, 0, 2, kFlowRtsCts}, false, {}, {}};
    choices = initial_com_choices(odd);
    choices[ComList::data_bits] = 99;
    choices[ComList::parity] = -7;
    next = com_settings_after_ok(odd, choices);
    EXPECT_EQ(next.line.port_number, 2);
    EXPECT_EQ(next.line.baud_rate, 7200u);
    EXPECT_EQ(next.line.byte_size, 8);
    EXPECT_EQ(next.line.parity, 0);
    EXPECT_EQ(next.line.stop_bits, 2);
    EXPECT_EQ(next.line.flow_control, kFlowRtsCts);
}

TEST(ComSettingsLists, OkWithoutChangesGivesBackEveryListedSetting) {
    // Catches an item whose text and value disagree with the selection rule.
    for (const auto& port : com_list_items(ComList::port))
        for (const auto& baud : com_list_items(ComList::baud_rate))
            for (const auto& bits : com_list_items(ComList::data_bits))
                for (const auto& parity : com_list_items(ComList::parity))
                    for (int flow = 0; flow < 8; ++flow) {
                        const ComSettings current{{static_cast<int>(port.value), static_cast<unsigned>(baud.value),
                                                   static_cast<int>(bits.value), static_cast<int>(parity.value), 0,
                                                   flow},
                                                  false,
                                                  {},
                                                  {}};
                        const ComSettings next = com_settings_after_ok(current, initial_com_choices(current));
                        ASSERT_EQ(next.line, current.line);
                    }
}

}  // namespace
}  // namespace vg
