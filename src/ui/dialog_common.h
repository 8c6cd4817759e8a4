// Small pieces the program's dialogs share: the program icon, plain-text labels that expand tabs like
// the static texts they stand for, and object names built from control ids.
#pragma once

#include <QIcon>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace vg {

// Control ids of the dialogs' OK and Cancel buttons.
inline constexpr int kControlOk = 888;
inline constexpr int kControlCancel = 999;

// "ctl<id>": the object name of the control with id `id`, by which tests and tools find it.
QString control_name(int id);

// Registers the resources compiled into the ui library (icon, toolbar pictures) with Qt: the one
// Q_INIT_RESOURCE of the program, done on the first call. Everything that loads ":/vorglobal/..." calls it.
void init_resources();

// The program icon (from the compiled-in resources).
QIcon program_icon();

// A label showing `text` as plain text (no markup), tabs expanded to the font's tab stops, named
// `name` when one is given.
QLabel* plain_label(const QString& text, QWidget* parent, const QString& name = {});

// A label showing the program icon at 32 x 32.
QLabel* icon_label(QWidget* parent, const QString& name = {});

// A push button with `text` named after control `id`.
QPushButton* control_button(const QString& text, int id, QWidget* parent);

}  // namespace vg
