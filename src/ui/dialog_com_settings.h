// The modal COM settings dialog ("VOR Settings..."): the port, baud rate, data bits, parity and stop
// bits lists, the three flow-control check boxes and, below the port list, the serial devices that
// exist. Controls are named by id: "ctl2040".."ctl2044" (lists), "ctl2045".."ctl2047" (DTR/DSR,
// RTS/CTS, XON/XOFF), "ctl2048" (devices), "ctl888" (Ok), "ctl999" (Cancel).
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "app/com_settings_lists.h"
#include "platform/window.h"

class QCheckBox;
class QComboBox;

namespace vg {

class ComSettingsDialog : public QDialog {
    Q_OBJECT

public:
    // Opens on `current`: each list selects the item of the current value (or nothing), the port list
    // is disabled while current.port_locked.
    explicit ComSettingsDialog(const ComSettings& current, QWidget* parent = nullptr);

    // The settings OK makes from the controls as they are now.
    ComSettings chosen_settings() const;

    QComboBox* list(ComList which) const { return lists_[static_cast<std::size_t>(which)]; }

private:
    static QString list_label(ComList list);
    static QString item_text(ComList list, const std::string& text);

    ComSettings current_;
    std::array<QComboBox*, kComLists.size()> lists_{};
    QCheckBox* dtr_dsr_ = nullptr;
    QCheckBox* rts_cts_ = nullptr;
    QCheckBox* xon_xoff_ = nullptr;
    QComboBox* device_ = nullptr;
};

// Runs the dialog modally over `parent`. On Ok, `settings` takes the chosen values and the result is
// true; on Cancel or close nothing changes and the result is false.
bool run_com_settings_dialog(QWidget* parent, ComSettings& settings);

}  // namespace vg
