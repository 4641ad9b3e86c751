// What the window shows of the time-of-flight computation: labels and status panels, the refused
// count, the save options, a failing log, and the gauge drawing the trend. The reports come over an
// in-memory line, as the instrument sends them.

#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "logger/Cdatalogger.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/MemoryWindow.h"
#include "tests/common/Pixels.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QToolButton>
#include <QtTest>

class TestMeasure : public QObject, private TMemoryWindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void labelsAndPanels_data();
    void labelsAndPanels();
    void savePhaseOffLeavesTofLog();
    void refusedReportsCounted();
    void logFailureShownInPanel9();
    void gaugeDrawsTheTrend();
    void gaugeFollowsThePage();

private:
    // Asks for a difference report and hands the window the instrument's answer.
    void Report(int count, int m1, int m2, const QByteArray &temperature = "25.00");
    // Hands the window bytes from the line and lets it take them.
    void Receive(const QByteArray &bytes);
    void CloseForm();
};

void TestMeasure::init()
{
    QVERIFY(OpenWindow());
    FMessages->Clear();
}

void TestMeasure::cleanup()
{
    FWindow.reset();
}

void TestMeasure::Report(int count, int m1, int m2, const QByteArray &temperature)
{
    const auto hex = [](int v) { return QByteArray::number(quint32(v), 16).toUpper().rightJustified(8, '0'); };
    FForm->mmCommandClick(FForm->mmAnalyzeData);
    Receive(Record(44, {{0, "TRFDIF"}, {7, QByteArray::number(count).rightJustified(3)}, {14, hex(m1)}, {26, hex(m2)},
                        {37, temperature}})
            + "\r\n");
}

void TestMeasure::Receive(const QByteArray &bytes)
{
    QVERIFY(HandOver(*FLine, bytes));
}

void TestMeasure::CloseForm()
{
    FForm->close();
    FWindow->Form.reset();
}

void TestMeasure::labelsAndPanels_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("m1");
    QTest::addColumn<int>("m2");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("phasePanel");
    QTest::newRow("290 at 90 degrees") << 290 << 1 << 0x7FFFFFFF << QStringList({"18", "90.000", "4.5625"})
                                       << "Phase= 90.000 deg";
    QTest::newRow("45") << 16 << 1000 << 1000 << QStringList({"1", "45.000", "0.2813"}) << "Phase= 45.000 deg";
    QTest::newRow("135") << 16 << -1000 << 1000 << QStringList({"1", "135.000", "0.3438"}) << "Phase= 135.000 deg";
    QTest::newRow("225") << 16 << -1000 << -1000 << QStringList({"1", "225.000", "0.4063"})
                         << "Phase= 225.000 deg";
    QTest::newRow("315") << 16 << 1000 << -1000 << QStringList({"1", "315.000", "0.4688"}) << "Phase= 315.000 deg";
    QTest::newRow("M2 zero gives 0") << -17 << -1000 << 0 << QStringList({"-1", "0.000", "-0.2500"})
                                     << "Phase= 0.000 deg";
}

void TestMeasure::labelsAndPanels()
{
    QFETCH(int, count);
    QFETCH(int, m1);
    QFETCH(int, m2);
    QFETCH(QStringList, labels);
    QFETCH(QString, phasePanel);
    Report(count, m1, m2, "-5.25");
    // The labels show it by the next frame.
    QTRY_COMPARE(QStringList({FForm->LabelBigTime->text(), FForm->LabelSmallTime->text(), FForm->LabelTOF->text()}),
                 labels);
    QCOMPARE(FForm->PanelText(2), phasePanel);
    QCOMPARE(FForm->PanelText(3), QString::number(m1));
    QCOMPARE(FForm->PanelText(4), QString::number(m2));
    QCOMPARE(FForm->PanelText(5), QStringLiteral("Temp.= -5.25 C"));
}

void TestMeasure::savePhaseOffLeavesTofLog()
{
    FForm->mmSavePhaseDataClick();
    QVERIFY(!FForm->mmSavePhaseData->isChecked());
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    FForm->mmSavePhaseDataClick(); // twice: mark and flag back on
    QVERIFY(FForm->FEngine->Options().SavePhaseData && FForm->mmSavePhaseData->isChecked());
    CloseForm();
    QVERIFY(!QFile::exists("Phase.csv"));
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv").count(','), 32);
}

void TestMeasure::refusedReportsCounted()
{
    QByteArray garbled = MeanReport + "\r\n";
    garbled.replace(49, 3, ":88");
    for (const char *text : {"1 report refused: a field could not be read",
                                "2 reports refused: a field could not be read"}) {
        FForm->mmCommandClick(FForm->mmAnalyzeAcquired);
        Receive(garbled);
        QCOMPARE(FForm->LabelRefused->text(), QString(text));
        QVERIFY(FForm->LabelRefused->isVisibleTo(FForm));
    }
    // A Run starts the count again, and nothing is shown for none.
    QSignalSpy ended(FForm, &TFormMain::RunEnded);
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(!FForm->LabelRefused->isVisibleTo(FForm));
    FForm->TB_RunClick(FForm->TB_Run);
    QVERIFY(!ended.isEmpty() || ended.wait(30000));
}

void TestMeasure::logFailureShownInPanel9()
{
    // A folder in the log's place when the batch is written, as it is processed.
    QVERIFY(QDir().mkdir("Phase.csv"));
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    // The whole path: the operator may not know which folder the program was started in.
    const QString failing = "Cannot write " + QDir::current().absoluteFilePath("Phase.csv") + ": ";
    QVERIFY2(FForm->PanelText(9).startsWith(failing), qPrintable(FForm->PanelText(9)));
    QCOMPARE(FForm->StatusPanels[9]->toolTip(), FForm->PanelText(9));
    // Panel 9 lies past the edge at the opening size; the line above the panels shows it whole.
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    QLabel *alarm = FForm->LabelLogError;
    QTRY_VERIFY(alarm->isVisible());
    QCOMPARE(alarm->text(), FForm->PanelText(9));
    const QRect shown(alarm->mapTo(FForm, QPoint(0, 0)), alarm->size());
    QVERIFY(FForm->rect().contains(shown.topLeft()));
    QVERIFY(FForm->rect().contains(shown));
    QTRY_VERIFY(alarm->height() >= alarm->heightForWidth(alarm->width()));
    const QList<TDataLogger *> logs = FForm->FEngine->Loggers(); // Phase.csv, TimeOfFlight.csv, ...
    logs[1]->FlushData(); // the other log still writes
    QVERIFY(FForm->PanelText(9).startsWith(failing));
    QVERIFY(QDir().rmdir("Phase.csv"));
    logs[0]->FlushData();
    QCOMPARE(FForm->PanelText(9), QString());
    QVERIFY(!alarm->isVisible());
    QCOMPARE(TWorkingFolder::Read("Phase.csv").count(','), 31);
}

void TestMeasure::gaugeDrawsTheTrend()
{
    TGauge *gauge = FForm->FGauge;
    QVERIFY(gauge && gauge->parentWidget() == FForm->PanelGauge);
    QCOMPARE(gauge->Mode(), TGaugeMode::SingleChannel);
    QCOMPARE(gauge->Unit(), QStringLiteral("degree"));
    QCOMPARE(gauge->XSpan(), 1600);
    QCOMPARE(gauge->Picture().size(), FForm->PanelGauge->size());
    const auto redPixels = [gauge] { return Count(gauge->Picture(), qRgb(255, 0, 0)); };
    for (int i = 0; i < 31; ++i)
        Report(16, 1000, 1000);
    // The frame that shows those reports draws no trend yet.
    QTRY_COMPARE(FForm->LabelSmallTime->text(), QStringLiteral("45.000"));
    QCOMPARE(redPixels(), 0);
    Report(16, 1000, 1000); // the batch completes: the trend is drawn by the next frame
    QTRY_VERIFY(redPixels() > 0);
    // 45 degrees of 0..360 on the axis: an eighth of the inner height above the bottom edge.
    const int bottom = gauge->CenterY() + (gauge->height() / 2 - 20) - 1;
    const int inner = 2 * (gauge->height() / 2 - 20) - 2;
    const int y = int(float(bottom) - 45.0f * (float(inner) / 360.0f));
    const int left = gauge->CenterX() - (gauge->width() / 2 - 40) + 26;
    QCOMPARE(gauge->Picture().pixel(left + 2, y), qRgb(255, 0, 0));
}

void TestMeasure::gaugeFollowsThePage()
{
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm));
    FForm->resize(1000, 760);
    QTRY_COMPARE(FForm->PanelGauge->size(), QSize(FForm->TS_Main->width() - 80, FForm->TS_Main->height() - 168));
    QCOMPARE(FForm->FGauge->pos(), QPoint(0, 0));
    QCOMPARE(FForm->FGauge->size(), FForm->PanelGauge->size());
    QCOMPARE(FForm->FGauge->Picture().size(), FForm->PanelGauge->size());
    // What the gauge holds is drawn again at the new size at once, not at the next batch.
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    QTRY_VERIFY(Count(FForm->FGauge->Picture(), qRgb(255, 0, 0)) > 0);
    // Smaller than the window allows: it stops at its minimum, the trend still drawn.
    FForm->resize(150, 200);
    QTRY_COMPARE(FForm->PanelGauge->size(), QSize(FForm->TS_Main->width() - 80, FForm->TS_Main->height() - 168));
    QCOMPARE(FForm->size(), FForm->minimumSize());
    QCOMPARE(FForm->FGauge->Picture().size(), FForm->PanelGauge->size());
    QVERIFY(Count(FForm->FGauge->Picture(), qRgb(255, 0, 0)) > 0);
}

QTEST_MAIN(TestMeasure)
#include "tst_measure.moc"
