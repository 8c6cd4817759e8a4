// The modal Preferences dialog (Options → Preferences...): four tabs (Receiver, Maps, Display,
// Recording) over the settings of PreferencesDialogData, with OK, Cancel and Apply. Each control is
// named "pref_<key>" after the setting it shows ("pref_port_number", "pref_baud", "pref_parity",
// "pref_bits", "pref_stop" and "pref_device" make up `port` and the comN line; "pref_sources" is the
// vor_src.txt list; "pref_clean_cache" starts the cache clean-up, whose result "pref_cache_result"
// shows when it ends, the dialog staying usable meanwhile). Every change is checked at once through
// the data's checks: the first problem is shown under the tabs and OK and Apply wait until there is
// none. Apply and OK hand the values to data.apply; what it says failed is shown and the dialog
// stays. Window thread only.
#pragma once

#include <QDialog>

#include <map>
#include <string>

#include "platform/window.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace vg {

class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    PreferencesDialog(const PreferencesDialogData& data, QWidget* parent = nullptr);

    // The data with the values and source lines as the controls show them now.
    PreferencesDialogData chosen() const;
    // The first problem of the controls' values ("" when none).
    QString problem() const;
    // Hands the values to data.apply; false (and the reason shown) when it refused or failed.
    bool apply();

private:
    QWidget* receiver_tab();
    QWidget* maps_tab();
    QWidget* display_tab();
    QWidget* recording_tab();
    QLineEdit* line_edit(const std::string& key, QWidget* parent);
    QCheckBox* check_box(const std::string& key, const QString& text, QWidget* parent);
    QComboBox* choice(const std::string& key, const std::vector<std::pair<std::string, std::string>>& items,
                      QWidget* parent);
    std::string port_value() const;
    void refresh();

    PreferencesDialogData data_;
    std::map<std::string, QLineEdit*> edits_;
    std::map<std::string, QCheckBox*> checks_;  // yes / no
    std::map<std::string, QComboBox*> choices_;  // the value in each item's data
    QComboBox* port_number_ = nullptr;
    QComboBox* baud_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* bits_ = nullptr;
    QComboBox* stop_ = nullptr;
    QComboBox* device_ = nullptr;
    std::string initial_port_;
    std::string initial_line_;  // the line controls' first state, so an untouched `port` stays as written
    QListWidget* sources_ = nullptr;
    QLabel* problem_ = nullptr;
    QLabel* cache_result_ = nullptr;  // what the last cache clean-up did
    QDialogButtonBox* buttons_ = nullptr;
};

// Runs the dialog modally over `parent`; true when closed with OK (after a successful apply).
bool run_preferences_dialog(QWidget* parent, PreferencesDialogData& data);

}  // namespace vg
