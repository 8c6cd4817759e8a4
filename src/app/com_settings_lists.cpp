#include "app/com_settings_lists.h"

namespace vg {
namespace {

std::vector<ComListItem> port_items() {
    std::vector<ComListItem> items;
    for (int port = 1; port <= kComPortCount; ++port) items.push_back({"COM" + std::to_string(port), port});
    return items;
}

std::vector<ComListItem> data_bit_items() {
    std::vector<ComListItem> items;
    for (int bits = 5; bits <= 8; ++bits) items.push_back({std::to_string(bits), bits});
    return items;
}

}  // namespace

const std::vector<ComListItem>& com_list_items(ComList list) {
    static const std::vector<ComListItem> ports = port_items();
    static const std::vector<ComListItem> baud_rates = {
        {"1200", 1200},    {"2400", 2400},    {"4800", 4800},    {"9600", 9600},      {"14.4k", 14400},
        {"19.2k", 19200},  {"38.4k", 38400},  {"57.6k", 57600},  {"115.2k", 115200},
    };
    static const std::vector<ComListItem> data_bits = data_bit_items();
    static const std::vector<ComListItem> parities = {
        {"None", 0}, {"Even", 2}, {"Odd", 1}, {"Mark", 3}, {"Space", 4},
    };
    static const std::vector<ComListItem> stop_bits = {{"1", 0}};
    switch (list) {
    case ComList::port: return ports;
    case ComList::baud_rate: return baud_rates;
    case ComList::data_bits: return data_bits;
    case ComList::parity: return parities;
    case ComList::stop_bits: return stop_bits;
    }
    return stop_bits;
}

int com_list_index(ComList list, long value) {
    const auto& items = com_list_items(list);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].value == value) return static_cast<int>(i);
    }
    return -1;
}

ComDialogChoices initial_com_choices(const ComSettings& current) {
    ComDialogChoices choices;
    choices[ComList::port] = com_list_index(ComList::port, current.line.port_number);
    choices[ComList::baud_rate] = com_list_index(ComList::baud_rate, static_cast<long>(current.line.baud_rate));
    choices[ComList::data_bits] = com_list_index(ComList::data_bits, current.line.byte_size);
    choices[ComList::parity] = com_list_index(ComList::parity, current.line.parity);
    choices[ComList::stop_bits] = com_list_index(ComList::stop_bits, current.line.stop_bits);
    choices.dtr_dsr = (current.line.flow_control & kFlowDtrDsr) != 0;
    choices.rts_cts = (current.line.flow_control & kFlowRtsCts) != 0;
    choices.xon_xoff = (current.line.flow_control & kFlowXonXoff) != 0;
    return choices;
}

ComSettings com_settings_after_ok(const ComSettings& current, const ComDialogChoices& choices) {
    // The value of the list's selected item, or nothing when there is no valid selection.
    auto chosen = [&](ComList list) -> const ComListItem* {
        const auto& items = com_list_items(list);
        const int index = choices[list];
        if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return nullptr;
        return &items[static_cast<std::size_t>(index)];
    };
    ComSettings next = current;
    if (!current.port_locked) {
        if (const auto* item = chosen(ComList::port)) next.line.port_number = static_cast<int>(item->value);
    }
    if (const auto* item = chosen(ComList::baud_rate)) next.line.baud_rate = static_cast<unsigned>(item->value);
    if (const auto* item = chosen(ComList::data_bits)) next.line.byte_size = static_cast<int>(item->value);
    if (const auto* item = chosen(ComList::parity)) next.line.parity = static_cast<int>(item->value);
    if (const auto* item = chosen(ComList::stop_bits)) next.line.stop_bits = static_cast<int>(item->value);
    next.line.flow_control = (choices.dtr_dsr ? kFlowDtrDsr : 0) | (choices.rts_cts ? kFlowRtsCts : 0) |
                        (choices.xon_xoff ? kFlowXonXoff : 0);
    return next;
}

}  // namespace vg
