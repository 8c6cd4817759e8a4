// The COM settings dialog's lists and its opening and OK rules, toolkit-free.
#include "app/com_settings_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vg {
namespace {

using Items = std::vector<std::pair<std::string, long>>;

Items items_of(ComList list) {
    Items items;
    for (const auto& item : com_list_items(list)) items.emplace_back(item.text, item.value);
    return items;
}

TEST(ComSettingsLists, TextsAndValuesOfEveryList) {
    EXPECT_EQ(items_of(ComList::port), (Items{{"COM1", 1}, {"COM2", 2}, {"COM3", 3}, {"COM4", 4}, {"COM5", 5},
                                              {"COM6", 6}, {"COM7", 7}, {"COM8", 8}, {"COM9", 9}}));
    EXPECT_EQ(items_of(ComList::baud_rate),
              (Items{{"1200", 1200}, {"2400", 2400}, {"4800", 4800}, {"9600", 9600}, {"14.4k", 14400},
                     {"19.2k", 19200}, {"38.4k", 38400}, {"57.6k", 57600}, {"115.2k", 115200}}));
    EXPECT_EQ(items_of(ComList::data_bits), (Items{{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}}));
    EXPECT_EQ(items_of(ComList::parity), (Items{{"None", 0}, {"Even", 2}, {"Odd", 1}, {"Mark", 3}, {"Space", 4}}));
    EXPECT_EQ(items_of(ComList::stop_bits), (Items{{"1", 0}}));
}

TEST(ComSettingsLists, OpeningSelectsCurrentValuesOrNothing) {
    ComSettings current;
    current.port_number = 4;
    current.baud_rate = 4800;
    current.byte_size = 7;
    current.parity = 1;
    current.stop_bits = 0;
    current.flow_control = kFlowRtsCts | kFlowXonXoff;
    ComDialogChoices choices = initial_com_choices(current);
    EXPECT_EQ(choices[ComList::port], 3);
    EXPECT_EQ(choices[ComList::baud_rate], 2);  // "4800"
    EXPECT_EQ(choices[ComList::data_bits], 2);
    EXPECT_EQ(choices[ComList::parity], 2);     // "Odd" is the third item
    EXPECT_EQ(choices[ComList::stop_bits], 0);
    EXPECT_FALSE(choices.dtr_dsr);
    EXPECT_TRUE(choices.rts_cts);
    EXPECT_TRUE(choices.xon_xoff);

    // Values no item carries: a hand-edited 7200 baud, two stop bits, port 0 (none) or 12, 9 data bits,
    // an unknown parity. Each list opens without a selection.
    current = ComSettings{0, 7200, 9, 7, 2, kFlowDtrDsr, false};
    choices = initial_com_choices(current);
    for (ComList list : kComLists) EXPECT_EQ(choices[list], -1) << static_cast<int>(list);
    EXPECT_TRUE(choices.dtr_dsr);
    current.port_number = 12;
    EXPECT_EQ(initial_com_choices(current)[ComList::port], -1);
}

TEST(ComSettingsLists, OkTakesSelectionsAndKeepsWhatWasNotChosen) {
    ComSettings current;  // COM1, 9600 8N1, no flow control
    ComDialogChoices choices = initial_com_choices(current);
    choices[ComList::port] = 3;        // COM4
    choices[ComList::baud_rate] = 6;   // "38.4k"
    choices[ComList::parity] = 2;      // "Odd"
    choices.dtr_dsr = true;
    choices.xon_xoff = true;
    ComSettings next = com_settings_after_ok(current, choices);
    EXPECT_EQ(next.port_number, 4);
    EXPECT_EQ(next.baud_rate, 38400u);
    EXPECT_EQ(next.byte_size, 8);
    EXPECT_EQ(next.parity, 1);
    EXPECT_EQ(next.stop_bits, 0);
    EXPECT_EQ(next.flow_control, kFlowDtrDsr | kFlowXonXoff);
    choices[ComList::parity] = 1;  // "Even"
    EXPECT_EQ(com_settings_after_ok(current, choices).parity, 2);

    // The port of an open link stays, whatever the (disabled) list holds; the rest still applies.
    current.port_locked = true;
    next = com_settings_after_ok(current, choices);
    EXPECT_EQ(next.port_number, 1);
    EXPECT_EQ(next.baud_rate, 38400u);
    EXPECT_TRUE(next.port_locked);

    // Lists without a selection (or with an index no item has) keep the current values.
    current = ComSettings{2, 7200, 8, 0, 2, kFlowRtsCts, false};
    choices = initial_com_choices(current);
    choices[ComList::data_bits] = 99;
    choices[ComList::parity] = -7;
    next = com_settings_after_ok(current, choices);
    EXPECT_EQ(next.port_number, 2);
    EXPECT_EQ(next.baud_rate, 7200u);
    EXPECT_EQ(next.byte_size, 8);
    EXPECT_EQ(next.parity, 0);
    EXPECT_EQ(next.stop_bits, 2);
    EXPECT_EQ(next.flow_control, kFlowRtsCts);
}

TEST(ComSettingsLists, OkWithoutChangesGivesBackEveryListableSetting) {
    for (const auto& port : com_list_items(ComList::port)) {
        for (const auto& baud : com_list_items(ComList::baud_rate)) {
            for (const auto& bits : com_list_items(ComList::data_bits)) {
                for (const auto& parity : com_list_items(ComList::parity)) {
                    for (int flow = 0; flow < 8; ++flow) {
                        const ComSettings current{static_cast<int>(port.value), static_cast<unsigned>(baud.value),
                                                  static_cast<int>(bits.value), static_cast<int>(parity.value), 0,
                                                  flow, false};
                        const ComSettings next = com_settings_after_ok(current, initial_com_choices(current));
                        ASSERT_EQ(next.port_number, current.port_number);
                        ASSERT_EQ(next.baud_rate, current.baud_rate);
                        ASSERT_EQ(next.byte_size, current.byte_size);
                        ASSERT_EQ(next.parity, current.parity);
                        ASSERT_EQ(next.stop_bits, 0);
                        ASSERT_EQ(next.flow_control, flow);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace vg
