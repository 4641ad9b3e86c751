// An exception escaping an event handler is shown, and the event loop goes on.

#include "app/Application.h"
#include "tests/common/MessageCapture.h"

#include <QTimer>
#include <QtTest>
#include <stdexcept>

namespace {
class TThrowing : public QObject {
public:
    int Handled = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++Handled;
            if (Handled == 1)
                throw std::runtime_error("Out of paper");
            if (Handled == 2)
                throw 42;
            return true;
        }
        return QObject::event(e);
    }
};
} // namespace

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void exceptionsInHandlersAreShown()
    {
        TMessageCapture messages;
        TThrowing target;
        for (int i = 0; i < 3; ++i)
            QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QTRY_COMPARE(target.Handled, 3);
        QCOMPARE(messages.Texts(), QStringList({"Out of paper", "Unknown error."}));
        QCOMPARE(messages.Messages[0].Caption, QStringLiteral("Zarn Monitor"));
        QCOMPARE(messages.Messages[0].Icon, Platform::TMsgIcon::Error);
    }
};

int main(int argc, char *argv[])
{
    TApplication application(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
