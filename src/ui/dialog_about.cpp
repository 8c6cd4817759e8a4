#include "ui/dialog_about.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/dialog_common.h"

namespace vg {

AboutDialog::AboutDialog(const QString& version_line, const QString& system_line, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("About VorGlobal"));
    setObjectName(QStringLiteral("dlg433"));

    auto* ok = control_button(tr("OK"), kControlOk, this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon_label(this, QStringLiteral("icon")), 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(plain_label(version_line, this, QStringLiteral("version")), 0, 1);
    layout->addWidget(plain_label(system_line, this, QStringLiteral("system")), 1, 1);
    layout->addWidget(ok, 2, 0, 1, 2, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void run_about_dialog(QWidget* parent, const QString& version_line, const QString& system_line) {
    AboutDialog dialog(version_line, system_line, parent);
    dialog.exec();
}

}  // namespace vg
