// VorGlobal: the process entry. Creates the application and the main window, shows it and runs the
// event loop; the loop's exit code is the process's.
#include <QApplication>
#include <QIcon>
#include <QString>

#include "resources/strings.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string_view caption = vg::res::load_string(vg::res::kStringCaption);
    QApplication::setApplicationName(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vorglobal/icon.xpm")));
    vg::MainWindow window;
    window.show();
    return QApplication::exec();
}
