#include "ui/dialog_common.h"

#include <QLabel>
#include <QPushButton>

// Q_INIT_RESOURCE names a function in the global namespace, so it is called from one outside vg.
static bool register_resources() {
    Q_INIT_RESOURCE(resources);
    return true;
}

namespace vg {

void init_resources() {
    static const bool registered = register_resources();
    (void)registered;
}

QString control_name(int id) { return QStringLiteral("ctl%1").arg(id); }

QIcon program_icon() {
    init_resources();
    return QIcon(QStringLiteral(":/vorglobal/icon.xpm"));
}

QLabel* plain_label(const QString& text, QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    // Tab stops as a static text control has them; QLabel expands tabs in plain text by default,
    // setting it again keeps that when the alignment changes.
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setText(text);
    if (!name.isEmpty()) label->setObjectName(name);
    return label;
}

QLabel* icon_label(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setPixmap(program_icon().pixmap(32, 32));
    label->setFixedSize(32, 32);
    if (!name.isEmpty()) label->setObjectName(name);
    return label;
}

QPushButton* control_button(const QString& text, int id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(control_name(id));
    button->setAutoDefault(false);
    return button;
}

}  // namespace vg
