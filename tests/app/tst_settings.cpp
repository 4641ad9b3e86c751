// What the window keeps between runs (port, options, place and page, log folder), a first start
// that keeps nothing yet, kept settings that no longer apply, and the folder the logs go to.

#include "app/Settings.h"
#include "app/Unitmain.h"
#include "display/Cgauge.h"
#include "logger/Cdatalogger.h"
#include "tests/app/ReportTexts.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/NotSerial.h"
#include "tests/common/PtyPair.h"
#include "tests/common/WorkingFolder.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSerialPort>
#include <QTabWidget>
#include <QSettings>
#include <QtTest>

namespace {

const QStringList OptionItems{"mmApplyFilter", "mmSavePhaseData", "mmSaveTOFData", "mmSaveMeasurements",
                              "mmSaveStatistics"};

// Answers every folder dialog with the folder given, recording the requests.
class TFolderAnswer {
public:
    explicit TFolderAnswer(const QString &answer)
    {
        FPrevious = Platform::SetFileDialogSink([this, answer](const Platform::TFileDialogRequest &request) {
            Requests << request;
            return answer;
        });
    }
    ~TFolderAnswer() { Platform::SetFileDialogSink(FPrevious); }
    QList<Platform::TFileDialogRequest> Requests;

private:
    Platform::TFileDialogSink FPrevious;
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstStartAsSpecified();
    void keptBetweenRuns();
    void keptPortNoLongerThere_data();
    void keptPortNoLongerThere();
    void keptPortNotSerial_data();
    void keptPortNotSerial();
    void logFolderAtStart_data();
    void logFolderAtStart();
    void chosenFolderMustTakeFiles();
    void gaugeModeChosenAndKept();

private:
    std::unique_ptr<TFormMain> NewWindow()
    {
        return std::make_unique<TFormMain>(nullptr, MemoryDeviceFactory(FLine), FSettings.get());
    }
    // A batch of mean reports at 45 degrees (count 290, M1 = M2 = 1000), asked for and received.
    void ReportBatch(TFormMain &form)
    {
        QVERIFY(form.FEngine->Comm());
        for (int i = 0; i < Measurement::BatchSize; ++i) {
            form.mmCommandClick(form.mmAnalyzeAcquired);
            FLine.Incoming += Record(79, {{0, "TMEAN"}, {49, "290"}, {57, "000003E8"}, {69, "000003E8"}}) + "\r\n";
            while (!FLine.Incoming.isEmpty())
                form.FEngine->Comm()->ProcTimer(nullptr);
        }
    }
    // Options as the check marks and the engine's flags show them; they must agree.
    QList<bool> Options(const TFormMain &form)
    {
        const TEngineOptions &o = form.FEngine->Options();
        const QList<bool> flags{o.ApplyFilter, o.SavePhaseData, o.SaveTOFData, o.SaveMeasurements, o.SaveStatistics};
        QList<bool> marks;
        for (const QString &name : OptionItems)
            marks << form.findChild<QAction *>(name)->isChecked();
        return marks == flags ? marks : QList<bool>();
    }

    std::unique_ptr<TWorkingFolder> FFolder;
    std::unique_ptr<TMessageCapture> FMessages;
    std::unique_ptr<TSettings> FSettings;
    TMemoryLine FLine;
};

void TestSettings::init()
{
    FFolder = std::make_unique<TWorkingFolder>();
    QVERIFY(FFolder->IsValid());
    // Every port's device is there unless a test says otherwise.
    for (int n = 1; n <= TEngine::PortCount; ++n)
        qputenv(QStringLiteral("ZARN_COM%1").arg(n).toLatin1(), FFolder->Folder().toLocal8Bit());
    FMessages = std::make_unique<TMessageCapture>();
    FSettings = std::make_unique<TSettings>(FFolder->Path("settings.ini"));
    FLine = TMemoryLine();
}

void TestSettings::cleanup()
{
    FSettings.reset();
    FMessages.reset();
    FFolder.reset();
}

void TestSettings::firstStartAsSpecified()
{
    auto form = NewWindow();
    QCOMPARE(FMessages->Texts(), QStringList{"Open COM1 !"});
    QCOMPARE(form->FEngine->PortIndex(), 0);
    QCOMPARE(Options(*form), QList<bool>({true, true, true, true, true}));
    QCOMPARE(form->FEngine->Statistics().WindowSize(), 1000);
    QVERIFY(!form->mmTimeStamps->isChecked());
    QCOMPARE(form->pos(), QPoint(90, 79));
    QCOMPARE(form->size(), QSize(907, 669));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->PageControl1->currentWidget(), form->TS_Main);
    // The logs in the working folder, each with its whole path on the pointer.
    const QDir working = QDir::current();
    QCOMPARE(form->LabelLogFiles->text(), "Logs in " + working.absolutePath() +
                                              ": Phase.csv, TimeOfFlight.csv, Measurements.csv, Statistics.csv");
    QCOMPARE(form->LabelLogFiles->toolTip(), QStringList({working.absoluteFilePath("Phase.csv"),
                                                          working.absoluteFilePath("TimeOfFlight.csv"),
                                                          working.absoluteFilePath("Measurements.csv"),
                                                          working.absoluteFilePath("Statistics.csv")})
                                                 .join('\n'));
    QVERIFY(form->LabelLogFiles->isVisible());
}

void TestSettings::keptBetweenRuns()
{
    const QString logs = FFolder->Path("logs");
    QVERIFY(QDir().mkdir(logs));
    {
        auto form = NewWindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->mmComPortClick();
        form->CB_Port->setCurrentIndex(2);
        form->BBtnComOKClick();
        QCOMPARE(form->FEngine->PortIndex(), 2);
        form->mmApplyFilterClick();
        form->mmSaveMeasurementsClick();
        form->mmSaveStatisticsClick();
        form->mmTimeStamps->trigger();
        TFolderAnswer answer(logs);
        form->mmLogFolderClick();
        QCOMPARE(answer.Requests.size(), 1);
        QCOMPARE(answer.Requests[0].Kind, Platform::TFileDialogKind::Folder);
        QCOMPARE(answer.Requests[0].InitialName, QDir::currentPath()); // where the logs go now
        form->resize(1000, 700);
        form->mmWaveformClick();
        form->close();
    }
    // The statistics' last N as kept; out of range or no number, the default.
    for (const auto &[kept, used] : {std::pair{"100000", 100000}, std::pair{"31", 1000}, std::pair{"many", 1000}}) {
        QSettings(FFolder->Path("window.ini"), QSettings::IniFormat).setValue("Statistics/Window", kept);
        QCOMPARE(TSettings(FFolder->Path("window.ini")).StatisticsWindow(), used);
    }
    FSettings->SetStatisticsWindow(5000);
    FMessages->Clear();
    auto form = NewWindow();
    QCOMPARE(form->FEngine->Statistics().WindowSize(), 5000);
    QCOMPARE(FMessages->Texts(), QStringList{"Open COM3 !"});
    QCOMPARE(form->FEngine->PortIndex(), 2);
    QCOMPARE(Options(*form), QList<bool>({false, true, true, false, false}));
    QVERIFY(form->mmTimeStamps->isChecked());
    QCOMPARE(form->FEngine->LogFolder(), logs);
    QVERIFY(form->LabelLogFiles->text().startsWith("Logs in " + logs + ": "));
    QCOMPARE(form->size(), QSize(1000, 700));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->PageControl1->currentWidget(), form->TS_Waveform);
    // The logs go there.
    ReportBatch(*form);
    form->close();
    QCOMPARE(TWorkingFolder::LineCount(logs + "/Phase.csv"), 1);
    QVERIFY(!QFile::exists("Phase.csv"));
    QVERIFY(!QFile::exists(logs + "/Measurements.csv")); // switched off
}

void TestSettings::keptPortNoLongerThere_data()
{
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("message");
    QTest::newRow("device gone") << "COM3" << "COM3 (@/gone), the port of the last session, is not there any more.\n"
                                             "COM1 is opened instead.";
    QTest::newRow("no such port") << "COM9" << "COM9, the port of the last session, is not there any more.\n"
                                              "COM1 is opened instead.";
}

void TestSettings::keptPortNoLongerThere()
{
    QFETCH(QString, kept);
    QFETCH(QString, message);
    qputenv("ZARN_COM3", FFolder->Path("gone").toLocal8Bit());
    FSettings->SetPort(kept);
    auto form = NewWindow();
    QCOMPARE(FMessages->Texts(), QStringList({message.replace("@", FFolder->Folder()), "Open COM1 !"}));
    QCOMPARE(form->FEngine->PortIndex(), 0);
    // Kept for when the device is back; a port chosen on the page replaces it.
    form->close();
    QCOMPARE(FSettings->Port(), kept);
}

void TestSettings::keptPortNotSerial_data()
{
    QTest::addColumn<QString>("kind");    // what the kept port is
    QTest::addColumn<QString>("kept");    // @: the path of it
    QTest::addColumn<QString>("message"); // said once before COM1 opens; empty: the kept port opens
    const QString notSerial = ", the port of the last session, is not a serial device.\nCOM1 is opened instead.";
    QTest::newRow("FIFO") << "fifo" << "@" << "@" + notSerial;
    QTest::newRow("folder") << "folder" << "@" << "@" + notSerial;
    QTest::newRow("regular file") << "file" << "@" << "@" + notSerial;
    QTest::newRow("device that is no terminal") << "node" << "@" << "@" + notSerial;
    QTest::newRow("COM name of a FIFO") << "fifo" << "COM3" << "COM3 (@)" + notSerial;
    QTest::newRow("pseudo-terminal") << "pty" << "@" << "";
    QTest::newRow("held by another program")
        << "held" << "@"
        << QStringLiteral("@, the port of the last session, cannot be opened: @ is in use by %1 (process %2)\n"
                          "COM1 is opened instead.")
               .arg(QCoreApplication::applicationName())
               .arg(QCoreApplication::applicationPid());
}

void TestSettings::keptPortNotSerial()
{
    QFETCH(QString, kind);
    QFETCH(QString, kept);
    QFETCH(QString, message);
    TPtyPair com1, other;
    QVERIFY(com1.IsValid() && other.IsValid());
    qputenv("ZARN_COM1", com1.SlavePath().toLocal8Bit());
    if (kind == "node" && ::geteuid() != 0)
        QSKIP("making a device node needs root");
    const QString path = kind == "pty" || kind == "held" ? other.SlavePath() : MakeNotSerial(FFolder->Folder(), kind);
    QVERIFY(!path.isEmpty());
    QSerialPort holder(other.SlavePath());
    if (kind == "held")
        QVERIFY(holder.open(QIODevice::ReadWrite));
    qputenv("ZARN_COM3", path.toLocal8Bit());
    kept.replace("@", path);
    message.replace("@", path);
    FSettings->SetPort(kept);
    // The real device layer.
    TFormMain form(nullptr, {}, FSettings.get());
    QVERIFY(form.FEngine->Comm());
    if (message.isEmpty()) {
        QCOMPARE(FMessages->Texts(), QStringList{"Open " + path + " !"});
        QCOMPARE(form.FEngine->Comm()->DeviceName(), path);
        return;
    }
    QCOMPARE(FMessages->Texts(), QStringList({message, "Open COM1 !"}));
    QCOMPARE(form.FEngine->Comm()->DeviceName(), com1.SlavePath());
    QVERIFY(form.LabelNoPort->isHidden());
    // Kept for the next start, as a port that is not there.
    form.close();
    QCOMPARE(FSettings->Port(), kept);
}

void TestSettings::logFolderAtStart_data()
{
    QTest::addColumn<QString>("kept");     // the folder kept from the last run ("@": the test's folder)
    QTest::addColumn<QString>("fallback"); // where the logs go while none was chosen
    QTest::addColumn<QString>("folder");   // where they go now
    QTest::addColumn<QString>("message");
    QTest::newRow("working folder") << "" << "" << "@" << "";
    QTest::newRow("documents, made") << "" << "@/docs/Zarn Monitor" << "@/docs/Zarn Monitor" << "";
    QTest::newRow("chosen wins") << "@" << "@/docs/Zarn Monitor" << "@" << "";
    QTest::newRow("chosen gone") << "@/stick" << "" << "@"
                                 << "The log folder of the last session, @/stick, is not there any more.\n"
                                    "The logs go to @ instead.";
}

void TestSettings::logFolderAtStart()
{
    QFETCH(QString, kept);
    QFETCH(QString, fallback);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    const QString here = QFileInfo(FFolder->Folder()).absoluteFilePath();
    for (QString *text : {&kept, &fallback, &folder, &message})
        text->replace("@", here);
    FSettings->SetLogFolder(kept);
    FSettings->DefaultLogFolder = fallback;
    auto form = NewWindow();
    QStringList expected{"Open COM1 !"};
    if (!message.isEmpty())
        expected << message;
    QCOMPARE(FMessages->Texts(), expected);
    for (const TDataLogger *logger : form->FEngine->Loggers())
        QCOMPARE(TEngine::LogPath(logger), QDir(folder).filePath(QFileInfo(logger->FileName()).fileName()));
    QVERIFY(QFileInfo(folder).isDir());
    form->close();
    QCOMPARE(FSettings->LogFolder(), kept);
}

void TestSettings::chosenFolderMustTakeFiles()
{
    auto form = NewWindow();
    QVERIFY(TWorkingFolder::Write("f", "a file"));
    const QString current = form->LabelLogFiles->text();
    TFolderAnswer answer(FFolder->Path("f"));
    form->mmLogFolderClick();
    QCOMPARE(FMessages->Texts().value(1), "The logs cannot be written there: not a folder: " + FFolder->Path("f") +
                                              ".\nThey go on in " + QDir::currentPath() + ".");
    QCOMPARE(form->LabelLogFiles->text(), current);
    QCOMPARE(form->FEngine->LogFolder(), QString());
    form->close();
    QCOMPARE(FSettings->LogFolder(), QString());
}

void TestSettings::gaugeModeChosenAndKept()
{
    {
        auto form = NewWindow();
        QList<QAction *> items = form->findChild<QMenu *>("mmDisplay")->actions();
        QCOMPARE(items.size(), 10);
        QCOMPARE(form->FGauge->Mode(), TGaugeMode::SingleChannel);
        QVERIFY(form->findChild<QAction *>("mmDisplayStripChart")->isChecked());
        // A batch at 45 degrees, 4.53125 us; then each mode shows the quantity it suits.
        ReportBatch(*form);
        const struct {
            const char *Item;
            TGaugeMode Mode;
            const char *Unit;
            float Value, Angle;
        } modes[] = {{"mmDisplayValueIndicator", TGaugeMode::ValueIndicator, "us", 4.53125f, 45},
                     {"mmDisplayVelocityMeter", TGaugeMode::VelocityMeter, "degree", 45, 45},
                     {"mmDisplayDualChannel", TGaugeMode::DualChannel, "degree", 45, 45},
                     {"mmDisplayAngleIndicator", TGaugeMode::AngleIndicator, "degree", 45, 45}};
        for (const auto &mode : modes) {
            form->findChild<QAction *>(mode.Item)->trigger();
            QCOMPARE(form->FGauge->Mode(), mode.Mode);
            QCOMPARE(form->FGauge->Unit(), QString(mode.Unit));
            QCOMPARE(form->FGauge->Value(), mode.Value);
            QCOMPARE(form->FGauge->Angle(), mode.Angle);
            // One mark at a time.
            QCOMPARE(std::count_if(items.begin(), items.end(), [](QAction *item) { return item->isChecked(); }), 1);
        }
        form->close();
    }
    auto form = NewWindow();
    QCOMPARE(form->FGauge->Mode(), TGaugeMode::AngleIndicator);
    QVERIFY(form->findChild<QAction *>("mmDisplayAngleIndicator")->isChecked());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
