#include "ui/dialog_keys.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/dialog_common.h"

namespace vg {

KeysDialog::KeysDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Buttons and Keys"));
    setObjectName(QStringLiteral("dlg431"));

    auto* caption = plain_label(QStringLiteral("VorGlobal"), this, QStringLiteral("caption"));
    auto* text1 = plain_label(
        tr("The function of mouse buttons and cursor keys can be modified using the Shift, Ctrl or Alt keys."),
        this, QStringLiteral("text1"));
    text1->setWordWrap(true);
    auto* text2 = plain_label(
        tr("Mouse buttons\n\tleft button\t- zoom-in on map\n\tright button \t- zoom-out"), this,
        QStringLiteral("text2"));
    auto* text3 = plain_label(tr("Cursor keys\n\tnormal\t\t- pan w/n/s/e"), this, QStringLiteral("text3"));
    // The wrapped line is as wide as the tabbed lines below it.
    text1->setMinimumWidth(text2->sizeHint().width());

    auto* ok = control_button(tr("OK"), kControlOk, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon_label(this, QStringLiteral("icon")), 0, 0, Qt::AlignTop);
    layout->addWidget(caption, 0, 1);
    layout->addWidget(text1, 1, 1);
    layout->addWidget(text2, 2, 1);
    layout->addWidget(text3, 3, 1);
    layout->addWidget(ok, 4, 0, 1, 2, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void run_keys_dialog(QWidget* parent) {
    KeysDialog dialog(parent);
    dialog.exec();
}

}  // namespace vg
