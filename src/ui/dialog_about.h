// The modal About dialog: the program icon, the version line and the system line, closed by OK or the
// close box. Objects: "version", "system", "ctl888" (OK).
#pragma once

#include <QDialog>
#include <QString>

namespace vg {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const QString& version_line, const QString& system_line, QWidget* parent = nullptr);
};

// Runs the dialog modally over `parent` until OK or close.
void run_about_dialog(QWidget* parent, const QString& version_line, const QString& system_line);

}  // namespace vg
