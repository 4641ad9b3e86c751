// The local time the measurement files are stamped with: the same instant and the same offset
// from UTC as the system's local time, in every zone and as soon as the zone changes.

#include "platform/Clock.h"

#include <QtTest>

class TestClock : public QObject {
    Q_OBJECT
private slots:
    void localNowIsTheSystemsLocalTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("UTC") << QByteArray("UTC0");
        QTest::newRow("east, half hours") << QByteArray("XST-5:30");
        QTest::newRow("west, half hours") << QByteArray("YST3:30");
        QTest::newRow("east again") << QByteArray("ZST-9");
    }

    void localNowIsTheSystemsLocalTime()
    {
        QFETCH(QByteArray, zone);
        const QByteArray before = qEnvironmentVariableIsSet("TZ") ? qgetenv("TZ") : QByteArray();
        qputenv("TZ", zone);
        // Asked straight after the change, in the same second as the zone before.
        const QDateTime first = QDateTime::currentDateTime();
        const QDateTime now = Platform::LocalNow();
        const QDateTime last = QDateTime::currentDateTime();
        // A local time is read in the zone in force: everything is compared before it changes back.
        const bool within = first <= now && now <= last;
        const int offset = first.offsetFromUtc();
        const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");
        const QString expected = now.toLocalTime().toString(format);
        if (before.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", before);
        QVERIFY(within);
        QCOMPARE(now.offsetFromUtc(), offset);
        QCOMPARE(now.toString(format), expected);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
