// The time-of-flight computation as the window runs it: labels and status panels, batches of 32
// with and without the filter, the trend, and the bytes of "Phase.csv" and "TimeOfFlight.csv".

#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "logger/Cdatalogger.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/Pixels.h"
#include "tests/common/WorkingFolder.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QtTest>

namespace {

// M1 and M2 for a phase of 45 + 90 k degrees (k = 0..3).
QPair<int, int> Quadrant(int k)
{
    const int m1[] = {1000, -1000, -1000, 1000};
    const int m2[] = {1000, 1000, -1000, -1000};
    return {m1[k], m2[k]};
}

} // namespace

class TestMeasure : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void labelsAndPanels_data();
    void labelsAndPanels();
    void filterOff64Reports();
    void filterOnEqualValuesRemovesNothing();
    void outlierBatchContinuesLine();
    void averagesFromThe32ndReport();
    void trendEmptiedAt10001();
    void savePhaseOffLeavesTofLog();
    void temperatureOfLineWhenItStarts();
    void logFailureShownInPanel9();
    void gaugeDrawsTheTrend();
    void gaugeFollowsThePage();

private:
    void Report(int count, int m1, int m2, float temperature = 25.0f);
    void CloseForm();

    std::unique_ptr<TFormMain> FForm;
    std::unique_ptr<TMessageCapture> FMessages;
    std::unique_ptr<TWorkingFolder> FFolder;
};

void TestMeasure::init()
{
    qputenv("ZARN_COM1", "/nonexistent/zarn-no-such-port");
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    FMessages = std::make_unique<TMessageCapture>();
    FForm = std::make_unique<TFormMain>();
}

void TestMeasure::cleanup()
{
    FForm.reset();
    FMessages.reset();
    FFolder.reset();
}

void TestMeasure::Report(int count, int m1, int m2, float temperature)
{
    FForm->FEngine->FBigCount = count;
    FForm->FEngine->FM1 = m1;
    FForm->FEngine->FM2 = m2;
    FForm->FEngine->FTemperature = temperature;
    FForm->FEngine->ComputeMeasurement();
}

void TestMeasure::CloseForm()
{
    FForm->close();
    FForm.reset();
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
    Report(count, m1, m2, -5.25f);
    QCOMPARE(QStringList({FForm->LabelBigTime->text(), FForm->LabelSmallTime->text(), FForm->LabelTOF->text()}),
             labels);
    QCOMPARE(FForm->PanelText(2), phasePanel);
    QCOMPARE(FForm->PanelText(3), QString::number(m1));
    QCOMPARE(FForm->PanelText(4), QString::number(m2));
    QCOMPARE(FForm->PanelText(5), QStringLiteral("Temp.= -5.25 C"));
}

void TestMeasure::filterOff64Reports()
{
    FForm->mmApplyFilterClick();
    QVERIFY(!FForm->FEngine->FApplyFilter);
    QByteArray phase, tof;
    for (int line = 0; line < 2; ++line) {
        QByteArray phaseLine, tofLine = "25.00";
        for (int i = 0; i < 32; ++i) {
            const int k = i % 4, bigTime = line * 32 + i;
            const auto m = Quadrant(k);
            Report(bigTime * 16 + 3, m.first, m.second);
            phaseLine += (i ? "," : "") + QByteArray::number(45 + 90 * k) + ".000";
            // (big time + (45 + 90 k) / 360) x 0.25, never a tie at three decimals
            tofLine += "," + QByteArray::number((bigTime + (45 + 90 * k) / 360.0) * 0.25, 'f', 3);
        }
        phase += phaseLine + "\r\n";
        tof += tofLine + "\r\n";
    }
    QCOMPARE(FForm->FEngine->FTrend->size(), size_t(64));
    CloseForm();
    QCOMPARE(TWorkingFolder::Read("Phase.csv"), phase);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof);
    const QList<QByteArray> lines = tof.split('\n');
    QCOMPARE(lines[0].count(',') + 1, 33);
}

void TestMeasure::filterOnEqualValuesRemovesNothing()
{
    QVERIFY(FForm->FEngine->FApplyFilter);
    for (int i = 0; i < 32; ++i)
        Report(16 * 100, 1000, 1000);
    QCOMPARE(FForm->FEngine->FTrend->size(), size_t(32));
    CloseForm();
    QByteArray phase = "45.000", tof = "25.00,25.031";
    for (int i = 1; i < 32; ++i) {
        phase += ",45.000";
        tof += ",25.031";
    }
    QCOMPARE(TWorkingFolder::Read("Phase.csv"), phase + "\r\n");
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof + "\r\n");
}

void TestMeasure::outlierBatchContinuesLine()
{
    // 31 reports at 45 degrees and one at 135: the high one and the first 45 go.
    for (int i = 0; i < 32; ++i) {
        const auto m = Quadrant(i == 20 ? 1 : 0);
        Report(16 * i, m.first, m.second);
    }
    QCOMPARE(FForm->FEngine->FTrend->size(), size_t(30));
    QCOMPARE(FForm->FEngine->FPhaseLine.Count(), 30);
    QCOMPARE(FForm->FEngine->FPhaseRing->Count(), 0);
    QCOMPARE(FForm->FEngine->FTOFRing->Count(), 0);
    for (int i = 0; i < 32; ++i)
        Report(16 * (100 + i), 1000, 1000);
    CloseForm();
    QByteArray tof = "25.00";
    for (int i = 1; i < 32; ++i)
        if (i != 20)
            tof += "," + QByteArray::number((i + 0.125) * 0.25, 'f', 3);
    tof += ",25.031,25.281\r\n25.00";
    // The 30 values left open are the shorter last line, written at exit.
    for (int i = 2; i < 32; ++i)
        tof += "," + QByteArray::number((100 + i + 0.125) * 0.25, 'f', 3);
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv"), tof + "\r\n");
    QCOMPARE(TWorkingFolder::Read("Phase.csv").count(','), 31 + 29);
}

void TestMeasure::averagesFromThe32ndReport()
{
    for (int i = 1; i <= 31; ++i) {
        Report(0, i, -i);
        QCOMPARE(FForm->PanelText(0), QString());
    }
    Report(0, 32, -32);
    QCOMPARE(FForm->PanelText(0), QStringLiteral("M1Avg= 16")); // 16.5 truncated
    QCOMPARE(FForm->PanelText(1), QStringLiteral("M2Avg= -16"));
    Report(0, 33, -33); // the last 32: 2..33
    QCOMPARE(FForm->PanelText(0), QStringLiteral("M1Avg= 17"));
}

void TestMeasure::trendEmptiedAt10001()
{
    FForm->mmApplyFilterClick();
    FForm->mmSavePhaseDataClick();
    FForm->mmSaveTOFDataClick();
    // 312 batches: 9984 values. The 313th fills the trend to 10000 and starts it again.
    for (int batch = 0; batch < 313; ++batch)
        for (int i = 0; i < 32; ++i)
            Report(16, 1000, batch == 312 && i >= 16 ? -1000 : 1000);
    QCOMPARE(FForm->FEngine->FTrend->size(), size_t(16));
    QCOMPARE(*FForm->FEngine->FTrend->front(), 315.0f);
}

void TestMeasure::savePhaseOffLeavesTofLog()
{
    FForm->mmSavePhaseDataClick();
    QVERIFY(!FForm->mmSavePhaseData->isChecked());
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    FForm->mmSavePhaseDataClick(); // twice: mark and flag back on
    QVERIFY(FForm->FEngine->FSavePhaseData && FForm->mmSavePhaseData->isChecked());
    CloseForm();
    QVERIFY(!QFile::exists("Phase.csv"));
    QCOMPARE(TWorkingFolder::Read("TimeOfFlight.csv").count(','), 32);
}

void TestMeasure::temperatureOfLineWhenItStarts()
{
    FForm->mmApplyFilterClick();
    // A line's values are added when their batch completes: the temperature then is the one of
    // the batch's last report.
    for (int i = 0; i < 64; ++i)
        Report(16, 1000, 1000, i < 31 ? 20.5f : i == 31 ? 22.0f : 30.125f);
    CloseForm();
    const QList<QByteArray> lines = TWorkingFolder::Read("TimeOfFlight.csv").split('\n');
    QVERIFY2(lines[0].startsWith("22.00,0.281,"), lines[0].constData());
    QVERIFY(lines[1].startsWith("30.13,0.281,")); // 30.125 is a tie: away from zero
}

void TestMeasure::logFailureShownInPanel9()
{
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    QVERIFY(QDir().mkdir("Phase.csv"));
    FForm->FEngine->FPhaseLogger->FlushData();
    QVERIFY(FForm->PanelText(9).startsWith("Cannot write Phase.csv"));
    QCOMPARE(FForm->StatusPanels[9]->toolTip(), FForm->PanelText(9));
    // Panel 9 lies past the edge at the opening size; the line above the panels shows it whole.
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    QLabel *alarm = FForm->LabelLogError;
    QTRY_VERIFY(alarm->isVisible());
    QCOMPARE(alarm->text(), FForm->PanelText(9));
    const QRect shown(alarm->mapTo(FForm.get(), QPoint(0, 0)), alarm->size());
    QVERIFY(FForm->rect().contains(shown.topLeft()));
    QVERIFY(shown.width() >= alarm->fontMetrics().horizontalAdvance(alarm->text()));
    FForm->FEngine->FTOFLogger->FlushData(); // the other log still writes
    QVERIFY(FForm->PanelText(9).startsWith("Cannot write Phase.csv"));
    QVERIFY(QDir().rmdir("Phase.csv"));
    FForm->FEngine->FPhaseLogger->FlushData();
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
    QCOMPARE(redPixels(), 0);
    Report(16, 1000, 1000); // the batch completes: the trend is drawn
    QVERIFY(redPixels() > 0);
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
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    FForm->resize(1000, 760);
    QTRY_COMPARE(FForm->PanelGauge->size(), QSize(FForm->TS_Main->width() - 80, FForm->TS_Main->height() - 168));
    QCOMPARE(FForm->FGauge->pos(), QPoint(0, 0));
    QCOMPARE(FForm->FGauge->size(), FForm->PanelGauge->size());
    QCOMPARE(FForm->FGauge->Picture().size(), FForm->PanelGauge->size());
    // What the gauge holds is drawn again at the new size at once, not at the next batch.
    for (int i = 0; i < 32; ++i)
        Report(16, 1000, 1000);
    QVERIFY(Count(FForm->FGauge->Picture(), qRgb(255, 0, 0)) > 0);
    // Smaller than the window allows: it stops at its minimum, the trend still drawn.
    FForm->resize(150, 200);
    QTRY_COMPARE(FForm->PanelGauge->size(), QSize(FForm->TS_Main->width() - 80, FForm->TS_Main->height() - 168));
    QCOMPARE(FForm->size(), FForm->minimumSize());
    QCOMPARE(FForm->FGauge->Picture().size(), FForm->PanelGauge->size());
    QVERIFY(Count(FForm->FGauge->Picture(), qRgb(255, 0, 0)) > 0);
}

QTEST_MAIN(TestMeasure)
#include "tst_measure.moc"
