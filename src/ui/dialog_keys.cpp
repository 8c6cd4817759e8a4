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
    // Every mouse action and key the map window answers to (MapView's events, MainWindow's shortcuts).
    auto* text1 = plain_label(tr("On the map the mouse and the keys do the following; the toolbar buttons show "
                                 "their names when the pointer rests on them."),
                              this, QStringLiteral("text1"));
    text1->setWordWrap(true);
    auto* text2 = plain_label(tr("Mouse\n"
                                 "\tleft button\t- zoom in on the clicked point\n"
                                 "\tright button\t- zoom out around the clicked point\n"
                                 "\twheel\t\t- zoom in and out around the pointer\n"
                                 "\tleft-button drag\t- move the map with the pointer"),
                              this, QStringLiteral("text2"));
    auto* text3 = plain_label(tr("Keys\n"
                                 "\tarrow keys\t- pan west/north/east/south one tile\n"
                                 "\t+ and -\t\t- zoom in and out as the wheel does\n"
                                 "\tShift+PgUp\t- connect\n"
                                 "\tShift+PgDown\t- disconnect\n"
                                 "\tF5\t\t- reload the map\n"
                                 "\tCtrl+C\t\t- copy the map\n"
                                 "\tCtrl+F\t\t- find a place\n"
                                 "\tCtrl+Q\t\t- quit"),
                              this, QStringLiteral("text3"));
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
