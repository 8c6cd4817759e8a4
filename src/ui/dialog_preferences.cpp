#include "ui/dialog_preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/com_settings_lists.h"
#include "settings/preferences.h"

namespace vg {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string field(const std::string& text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find(',', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    return text.substr(start, text.find(',', start) - start);
}

// Selects the item whose data is `value`, adding it (shown as it is) when no item has it.
void select_data(QComboBox* combo, const QString& value) {
    int at = combo->findData(value);
    if (at < 0) {
        combo->addItem(value, value);
        at = combo->count() - 1;
    }
    combo->setCurrentIndex(at);
}

}  // namespace

PreferencesDialog::PreferencesDialog(const PreferencesDialogData& data, QWidget* parent)
    : QDialog(parent), data_(data) {
    setWindowTitle(tr("Preferences"));
    setObjectName(QStringLiteral("preferences"));
    auto* tabs = new QTabWidget(this);
    tabs->addTab(receiver_tab(), tr("&Receiver"));
    tabs->addTab(maps_tab(), tr("&Maps"));
    tabs->addTab(display_tab(), tr("&Display"));
    tabs->addTab(recording_tab(), tr("Re&cording"));
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("pref_problem"));
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::PlainText);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    connect(buttons_->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
        if (apply()) accept();
    });
    connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { apply(); });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(problem_);
    layout->addWidget(buttons_);
    initial_line_ = port_value();
    refresh();
}

QLineEdit* PreferencesDialog::line_edit(const std::string& key, QWidget* parent) {
    auto* edit = new QLineEdit(q(data_.values[key]), parent);
    edit->setObjectName(q("pref_" + key));
    connect(edit, &QLineEdit::textChanged, this, [this] { refresh(); });
    edits_[key] = edit;
    return edit;
}

QCheckBox* PreferencesDialog::check_box(const std::string& key, const QString& text, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(q("pref_" + key));
    box->setChecked(data_.values[key] == "yes");
    checks_[key] = box;
    return box;
}

QComboBox* PreferencesDialog::choice(const std::string& key,
                                     const std::vector<std::pair<std::string, std::string>>& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(q("pref_" + key));
    for (const auto& [text, value] : items) combo->addItem(q(text), q(value));
    select_data(combo, q(data_.values[key]));
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    choices_[key] = combo;
    return combo;
}

QWidget* PreferencesDialog::receiver_tab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    form->addRow(tr("De&vice type:"), choice("unit", data_.receivers, tab));

    // The port and its line settings: the COM settings dialog's lists.
    initial_port_ = data_.values["port"];
    const auto list = [this, tab](ComList which, const char* name) {
        auto* combo = new QComboBox(tab);
        combo->setObjectName(QString::fromLatin1(name));
        for (const ComListItem& item : com_list_items(which)) combo->addItem(q(item.text), QString::number(item.value));
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
        return combo;
    };
    port_number_ = list(ComList::port, "pref_port_number");
    port_number_->insertItem(0, tr("none (COM0)"), QStringLiteral("0"));
    select_data(port_number_, QString::number(port_number_of(initial_port_).value_or(1)));
    baud_ = list(ComList::baud_rate, "pref_baud");
    baud_->insertItem(0, tr("the receiver's"), QStringLiteral("0"));
    select_data(baud_, field(initial_port_, 1).empty() ? QStringLiteral("0") : q(field(initial_port_, 1)));
    parity_ = new QComboBox(tab);
    parity_->setObjectName(QStringLiteral("pref_parity"));
    for (const ComListItem& item : com_list_items(ComList::parity))
        if (item.value <= 2) parity_->addItem(q(item.text), QString(QChar("noe"[item.value])));
    select_data(parity_, field(initial_port_, 2).empty() ? QStringLiteral("n") : q(field(initial_port_, 2)));
    connect(parity_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    bits_ = list(ComList::data_bits, "pref_bits");
    select_data(bits_, field(initial_port_, 3).empty() ? QStringLiteral("8") : q(field(initial_port_, 3)));
    stop_ = new QComboBox(tab);
    stop_->setObjectName(QStringLiteral("pref_stop"));
    stop_->addItem(QStringLiteral("1"), QStringLiteral("1"));
    stop_->addItem(QStringLiteral("2"), QStringLiteral("2"));
    select_data(stop_, field(initial_port_, 4).empty() ? QStringLiteral("1") : q(field(initial_port_, 4)));
    connect(stop_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    form->addRow(tr("&Port:"), port_number_);
    device_ = new QComboBox(tab);
    device_->setObjectName(QStringLiteral("pref_device"));
    device_->setEditable(true);
    for (const auto& [path, about] : data_.devices) {
        device_->addItem(q(path));
        device_->setItemData(device_->count() - 1, q(about), Qt::ToolTipRole);
    }
    const auto number = port_number_of(initial_port_).value_or(0);
    device_->setEditText(number > 0 ? q(data_.values["com" + std::to_string(number)]) : QString());
    connect(device_, &QComboBox::editTextChanged, this, [this] { refresh(); });
    form->addRow(tr("Serial de&vice of the port:"), device_);
    form->addRow(tr("&Speed:"), baud_);
    form->addRow(tr("P&arity:"), parity_);
    form->addRow(tr("Data &bits:"), bits_);
    form->addRow(tr("S&top bits:"), stop_);
    form->addRow(tr("&gpsd (host:port):"), line_edit("gpsd", tab));
    form->addRow(tr("&NMEA network (tcp://host:port, udp://:port):"), line_edit("nmea", tab));
    form->addRow(tr("Base and Remote &port (host:port, off:PORT):"), line_edit("base", tab));
    form->addRow(tr("Position server &address (bind):"), line_edit("bind", tab));
    form->addRow(tr("Relay &key:"), line_edit("relaykey", tab));
    return tab;
}

QWidget* PreferencesDialog::maps_tab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(new QLabel(tr("Sources of vor_src.txt (name|layer|template|zooms|attribution|flags):"), tab));
    sources_ = new QListWidget(tab);
    sources_->setObjectName(QStringLiteral("pref_sources"));
    for (const std::string& line : data_.source_lines) {
        auto* item = new QListWidgetItem(q(line), sources_);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    connect(sources_, &QListWidget::itemChanged, this, [this] { refresh(); });
    layout->addWidget(sources_);
    auto* row = new QHBoxLayout;
    auto* add = new QPushButton(tr("A&dd"), tab);
    auto* remove = new QPushButton(tr("&Remove"), tab);
    add->setObjectName(QStringLiteral("pref_source_add"));
    remove->setObjectName(QStringLiteral("pref_source_remove"));
    connect(add, &QPushButton::clicked, this, [this] {
        auto* item = new QListWidgetItem(sources_);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        sources_->setCurrentItem(item);
        sources_->editItem(item);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        delete sources_->currentItem();
        refresh();
    });
    row->addWidget(add);
    row->addWidget(remove);
    row->addStretch();
    layout->addLayout(row);
    auto* form = new QFormLayout;
    form->addRow(tr("&Certificates file (cafile):"), line_edit("cafile", tab));
    form->addRow(tr("&Proxy (host:port):"), line_edit("prxy", tab));
    // The cache's size limit, and its clean-up: the result comes from the clean-up's thread, handed to
    // this thread through the application object, which outlives the dialog.
    auto* cache_row = new QHBoxLayout;
    cache_row->addWidget(line_edit("cachemb", tab));
    auto* clean = new QPushButton(tr("C&lean up now"), tab);
    clean->setObjectName(QStringLiteral("pref_clean_cache"));
    cache_row->addWidget(clean);
    form->addRow(tr("Cache &size limit (MB, 0 for none):"), cache_row);
    cache_result_ = new QLabel(tab);
    cache_result_->setObjectName(QStringLiteral("pref_cache_result"));
    cache_result_->setTextFormat(Qt::PlainText);
    form->addRow(cache_result_);
    connect(clean, &QPushButton::clicked, this, [this, clean] {
        if (!data_.clean_cache) return;
        QPointer<QLabel> shown = cache_result_;
        QPointer<QPushButton> button = clean;
        const auto done = [shown, button](const std::string& result) {
            QMetaObject::invokeMethod(
                qApp,
                [shown, button, text = q(result)] {
                    if (shown) shown->setText(text);
                    if (button) button->setEnabled(true);
                },
                Qt::QueuedConnection);
        };
        const std::string limit = edits_.at("cachemb")->text().trimmed().toStdString();
        const std::string refused = data_.clean_cache(limit, done);
        cache_result_->setText(refused.empty() ? tr("Cleaning up...") : q(refused));
        clean->setEnabled(!refused.empty());
    });
    layout->addLayout(form);
    return tab;
}

QWidget* PreferencesDialog::display_tab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    form->addRow(tr("&Speed in:"), choice("speed", {{"km/h", "kmh"}, {"mph", "mph"}, {"knots", "kn"}}, tab));
    form->addRow(tr("&Time zone (local, or hours and a label):"), line_edit("zone", tab));
    form->addRow(tr("&Cross-hair width (pixels):"), line_edit("hair", tab));
    form->addRow(tr("Fix &old after (seconds):"), line_edit("stale", tab));
    form->addRow(check_box("night", tr("&Night"), tab));
    form->addRow(check_box("hillshade", tr("&Hillshade where elevation data covers the map"), tab));
    form->addRow(tr("Hillshade &strength (percent):"), line_edit("shading", tab));
    form->addRow(check_box("plot", tr("&Plot the track log on the map"), tab));
    return tab;
}

QWidget* PreferencesDialog::recording_tab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    form->addRow(check_box("record", tr("&Record the journey"), tab));
    form->addRow(tr("&Folder (empty: the data folder):"), line_edit("recdir", tab));
    form->addRow(tr("&New recording:"), choice("recsplit", {{"each day", "day"}, {"never", "none"}}, tab));
    return tab;
}

std::string PreferencesDialog::port_value() const {
    std::string value = "COM" + port_number_->currentData().toString().toStdString();
    // Without a speed of its own the receiver's is used, and the fields after it cannot be written.
    if (baud_->currentData().toString() == QLatin1String("0")) return value;
    for (const QComboBox* c : {baud_, parity_, bits_, stop_}) value += "," + c->currentData().toString().toStdString();
    return value;
}

PreferencesDialogData PreferencesDialog::chosen() const {
    PreferencesDialogData out = data_;
    for (const auto& [key, edit] : edits_) out.values[key] = edit->text().toStdString();
    for (const auto& [key, box] : checks_) out.values[key] = box->isChecked() ? "yes" : "no";
    for (const auto& [key, combo] : choices_) out.values[key] = combo->currentData().toString().toStdString();
    const std::string port = port_value();
    out.values["port"] = port == initial_line_ ? initial_port_ : port;
    // The device goes to the comN line of the chosen port; an empty one leaves that line alone.
    for (auto it = out.values.begin(); it != out.values.end();)
        it = it->first.starts_with("com") ? out.values.erase(it) : std::next(it);
    const std::string number = port_number_->currentData().toString().toStdString();
    const std::string device = device_->currentText().trimmed().toStdString();
    if (number != "0" && !device.empty()) out.values["com" + number] = device;
    out.source_lines.clear();
    for (int i = 0; i < sources_->count(); ++i) {
        const QString line = sources_->item(i)->text();
        if (!line.trimmed().isEmpty()) out.source_lines.push_back(line.toStdString());
    }
    return out;
}

QString PreferencesDialog::problem() const {
    // Only what the user changed is checked: a hand-written value the dialog was not asked to touch
    // stays as it is.
    const PreferencesDialogData now = chosen();
    if (data_.check_value)
        for (const auto& [key, value] : now.values) {
            const auto was = data_.values.find(key);
            if (was != data_.values.end() && was->second == value) continue;
            if (std::string why = data_.check_value(key, value); !why.empty()) return q(why);
        }
    if (data_.check_source_line)
        for (std::size_t i = 0; i < now.source_lines.size(); ++i) {
            const std::string& line = now.source_lines[i];
            if (std::find(data_.source_lines.begin(), data_.source_lines.end(), line) != data_.source_lines.end())
                continue;
            if (std::string why = data_.check_source_line(line); !why.empty())
                return tr("Source line %1: %2").arg(i + 1).arg(q(why));
        }
    return {};
}

void PreferencesDialog::refresh() {
    if (buttons_ == nullptr || sources_ == nullptr) return;  // still being built
    const QString why = problem();
    problem_->setText(why);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(why.isEmpty());
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(why.isEmpty());
    for (QComboBox* c : {parity_, bits_, stop_}) c->setEnabled(baud_->currentData().toString() != QLatin1String("0"));
}

bool PreferencesDialog::apply() {
    if (const QString why = problem(); !why.isEmpty()) {
        problem_->setText(why);
        return false;
    }
    const PreferencesDialogData now = chosen();
    const std::string failed = data_.apply ? data_.apply(now) : std::string();
    problem_->setText(q(failed));
    if (!failed.empty()) return false;
    // What was applied is the new starting point: an untouched port stays as written from now on.
    data_.values = now.values;
    data_.source_lines = now.source_lines;
    initial_port_ = now.values.at("port");
    initial_line_ = port_value();
    return true;
}

bool run_preferences_dialog(QWidget* parent, PreferencesDialogData& data) {
    PreferencesDialog dialog(data, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    data = dialog.chosen();
    return true;
}

}  // namespace vg
