// Zarn Monitor: program entry.

#include "app/Unitmain.h"
#include "platform/Platform.h"

#include <QApplication>
#include <exception>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Zarn Monitor");
    QApplication::setApplicationDisplayName(QString());
    try {
        TFormMain form;
        form.show();
        QApplication::exec();
    } catch (const std::exception &e) {
        Platform::MessageBox(QString::fromLocal8Bit(e.what()), "Zarn Monitor", Platform::TMsgIcon::Error);
    } catch (...) {
        Platform::MessageBox("Unexpected error", "Zarn Monitor", Platform::TMsgIcon::Error);
    }
    return 0;
}
