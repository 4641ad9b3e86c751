// The communication log's text: what the window makes of the received bytes, chunk by chunk.

#include "app/ComLogText.h"

#include <QtTest>

class TestComLog : public QObject {
    Q_OBJECT
private slots:
    void comLogText_data();
    void comLogText();
    void comLogStream_data();
    void comLogStream();
};

void TestComLog::comLogText_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("abc") << QStringLiteral("abc");
    QTest::newRow("CR LF inside, one at the end") << QByteArray("a\r\nb\r\n") << QStringLiteral("a\nb");
    QTest::newRow("lone CR and LF") << QByteArray("a\rb\nc") << QStringLiteral("a\nb\nc");
    QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\nb") << QStringLiteral("a\n\nb");
    QTest::newRow("zero, escape, delete") << QByteArray("x\0\x1b\x7fy", 5) << QStringLiteral("x<NUL><ESC><DEL>y");
    QTest::newRow("C1 codes by value") << QByteArray("\x80\x9b\xa0") << QStringLiteral("<80><9B>\u00a0");
    QTest::newRow("tab") << QByteArray("a\tb") << QStringLiteral("a\tb");
    QTest::newRow("high bytes") << QByteArray("\xb8U") << QStringLiteral("\u00b8U");
}

void TestComLog::comLogText()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, text);
    TComLogText log;
    QCOMPARE(log.Format(chunk), text);
}

void TestComLog::comLogStream_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF split") << QByteArrayList{"OK a\r", "\n", "OK z\r\n"} << "" << QStringLiteral("OK a\nOK z");
    QTest::newRow("line in pieces") << QByteArrayList{"TME", "AN 1", "2\r\n3"} << "" << QStringLiteral("TMEAN 12\n3");
    QTest::newRow("LF after LF") << QByteArrayList{"a\n", "\nb"} << "" << QStringLiteral("a\n\nb");
    QTest::newRow("CR after CR") << QByteArrayList{"a\r", "\rb"} << "" << QStringLiteral("a\n\nb");
    QTest::newRow("leading break") << QByteArrayList{"\r\n", "x"} << "" << QStringLiteral("\nx");
    const int limit = TComLogText::LineLengthLimit;
    QTest::newRow("endless line wraps") << QByteArrayList{QByteArray(limit - 1, 'a'), "bc", QByteArray(limit, 'd')} << ""
                                        << QString(limit - 1, 'a') + "b\nc" + QString(limit - 1, 'd') + "\nd";
    // Stamped: every received line, empty ones too, but not a wrapped line's continuation.
    QTest::newRow("stamped lines in pieces") << QByteArrayList{"TME", "AN 1", "2\r\n3"} << "S "
                                             << QStringLiteral("S TMEAN 12\nS 3");
    QTest::newRow("stamped empty lines") << QByteArrayList{"\r\n", "\r\nx\r"} << "S " << QStringLiteral("S \nS \nS x");
    QTest::newRow("stamped wrap") << QByteArrayList{QByteArray(limit + 1, 'a')} << "S "
                                  << "S " + QString(limit, 'a') + "\na";
}

void TestComLog::comLogStream()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, stamp);
    QFETCH(QString, text);
    TComLogText log;
    QString joined;
    for (const QByteArray &chunk : chunks)
        joined += log.Format(chunk, stamp);
    QCOMPARE(joined, text);
}

QTEST_APPLESS_MAIN(TestComLog)
#include "tst_reports.moc"
