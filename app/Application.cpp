#include "app/Application.h"

#include "platform/Platform.h"

#include <exception>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // The names under which the platform keeps the settings and the data of the program.
    setOrganizationName("Dunmeridge");
    setApplicationName("Zarn Monitor");
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(nullptr);
    }
    return false;
}

void TApplication::ShowException(const char *what)
{
    const QString text = what && *what ? QString::fromLocal8Bit(what) : QStringLiteral("Unknown error.");
    Platform::MessageBox(text, applicationName(), Platform::TMsgIcon::Error);
}
