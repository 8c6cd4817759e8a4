#include "ui/dialog_com_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialog_common.h"

namespace vg {
namespace {

constexpr int kControlPort = 2040;  // the lists are 2040..2044 in ComList order
constexpr int kControlDtrDsr = 2045;
constexpr int kControlRtsCts = 2046;
constexpr int kControlXonXoff = 2047;
constexpr int kControlDevice = 2048;

}  // namespace

QString ComSettingsDialog::list_label(ComList list) {
    switch (list) {
    case ComList::port: return tr("&Port:");
    case ComList::baud_rate: return tr("&Baud Rate:");
    case ComList::data_bits: return tr("&Data Bits:");
    case ComList::parity: return tr("P&arity:");
    case ComList::stop_bits: return tr("&Stop Bits:");
    }
    return {};
}

// The parity names are words; the other items are numbers and port names, shown as they are.
QString ComSettingsDialog::item_text(ComList list, const std::string& text) {
    if (list != ComList::parity) return QString::fromStdString(text);
    if (text == "None") return tr("None");
    if (text == "Even") return tr("Even");
    if (text == "Odd") return tr("Odd");
    if (text == "Mark") return tr("Mark");
    if (text == "Space") return tr("Space");
    return QString::fromStdString(text);
}

ComSettingsDialog::ComSettingsDialog(const ComSettings& current, QWidget* parent)
    : QDialog(parent), current_(current) {
    setWindowTitle(tr("VOR Settings..."));
    setObjectName(QStringLiteral("dlg411"));

    auto* group = new QGroupBox(tr("&COM Options:"), this);
    auto* grid = new QGridLayout(group);
    const ComDialogChoices choices = initial_com_choices(current);
    int row = 0;
    for (ComList which : kComLists) {
        auto* combo = new QComboBox(group);
        combo->setObjectName(control_name(kControlPort + static_cast<int>(which)));
        for (const ComListItem& item : com_list_items(which)) {
            combo->addItem(item_text(which, item.text), QVariant::fromValue<qlonglong>(item.value));
        }
        combo->setCurrentIndex(choices[which]);  // -1: no selection
        auto* label = new QLabel(list_label(which), group);
        label->setBuddy(combo);
        grid->addWidget(label, row, 0);
        grid->addWidget(combo, row, 1);
        lists_[static_cast<std::size_t>(which)] = combo;
        ++row;
        if (which == ComList::port) {
            // The serial devices that exist: choosing one makes it the device of the chosen port.
            device_ = new QComboBox(group);
            device_->setObjectName(control_name(kControlDevice));
            device_->addItem(tr("(as vor_ini.txt names the port)"), QString());
            for (const auto& [path, about] : current.devices) {
                device_->addItem(QString::fromStdString(path + "  (" + about + ")"), QString::fromStdString(path));
                if (path == current.device) device_->setCurrentIndex(device_->count() - 1);
            }
            device_->setEnabled(!current.port_locked);
            auto* device_label = new QLabel(tr("De&vice:"), group);
            device_label->setBuddy(device_);
            grid->addWidget(device_label, row, 0);
            grid->addWidget(device_, row, 1);
            ++row;
        }
    }
    // The port of an open link cannot be changed.
    list(ComList::port)->setEnabled(!current.port_locked);

    dtr_dsr_ = new QCheckBox(tr("DTR/DSR"), group);
    rts_cts_ = new QCheckBox(tr("RTS/CTS"), group);
    xon_xoff_ = new QCheckBox(tr("XON/XOFF"), group);
    dtr_dsr_->setObjectName(control_name(kControlDtrDsr));
    rts_cts_->setObjectName(control_name(kControlRtsCts));
    xon_xoff_->setObjectName(control_name(kControlXonXoff));
    dtr_dsr_->setChecked(choices.dtr_dsr);
    rts_cts_->setChecked(choices.rts_cts);
    xon_xoff_->setChecked(choices.xon_xoff);
    auto* flow_label = new QLabel(tr("F&low:"), group);
    flow_label->setBuddy(dtr_dsr_);
    grid->addWidget(flow_label, row, 0);
    // Left-aligned: the device list may make the column wider than a check box and its text.
    grid->addWidget(dtr_dsr_, row++, 1, Qt::AlignLeft);
    grid->addWidget(rts_cts_, row++, 1, Qt::AlignLeft);
    grid->addWidget(xon_xoff_, row++, 1, Qt::AlignLeft);

    auto* ok = control_button(tr("Ok"), kControlOk, this);
    auto* cancel = control_button(tr("Cancel"), kControlCancel, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ComSettings ComSettingsDialog::chosen_settings() const {
    ComDialogChoices choices;
    for (ComList which : kComLists) choices[which] = list(which)->currentIndex();
    choices.dtr_dsr = dtr_dsr_->isChecked();
    choices.rts_cts = rts_cts_->isChecked();
    choices.xon_xoff = xon_xoff_->isChecked();
    ComSettings chosen = com_settings_after_ok(current_, choices);
    chosen.device = device_->currentData().toString().toStdString();
    return chosen;
}

bool run_com_settings_dialog(QWidget* parent, ComSettings& settings) {
    ComSettingsDialog dialog(settings, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings = dialog.chosen_settings();
    return true;
}

}  // namespace vg
