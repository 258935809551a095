// trajix-gui: the desktop application.
#include <QApplication>
#include <QTabWidget>

#include "app/main_window.hpp"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("trajix-gui");
    QApplication::setApplicationVersion(QStringLiteral("4.8"));
    const trajix::gui::StartOptions options = trajix::gui::parseStartOptions(QApplication::arguments());
    trajix::gui::TForm1 form(options);
    form.show();
    if (options.tab >= 0) form.PageControl1->setCurrentIndex(options.tab);
    return QApplication::exec();
}
