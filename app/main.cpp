// trajix-gui: the desktop application.
#include <QApplication>
#include <QStringList>
#include <QTabWidget>

#include <cstdio>

#include "app/main_window.hpp"

int main(int argc, char* argv[])
{
    // --help and usage errors are answered before Qt starts, so they need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    const trajix::gui::StartOptions options = trajix::gui::parseStartOptions(arguments);
    if (options.help) {
        std::fputs(options.helpText.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!options.usageError.isEmpty()) {
        std::fprintf(stderr, "trajix-gui: %s\nTry 'trajix-gui --help' for the options.\n",
                     options.usageError.toLocal8Bit().constData());
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName("trajix-gui");
    QApplication::setApplicationVersion(QStringLiteral(TRAJIX_VERSION));
    trajix::gui::MainWindow form(options);
    form.showAtOpeningSize();
    if (options.tab >= 0) form.PageControl1->setCurrentIndex(options.tab);
    if (!options.file.isEmpty()) form.openFile(options.file);
    return QApplication::exec();
}
