#pragma once
// What the window keeps between runs: the port, the Options switches, the window's place, size
// and page, and the folder the operator chose for the logs. They live in the platform's usual
// place for settings (QSettings under the application's names); every stored name and form is
// here. A window made without a TSettings keeps nothing: each start is a first start.

#include "app/Publisher.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QSettings;

class TSettings {
public:
    // The platform's usual place for this application's settings.
    TSettings();
    // A file of its own (a test's, say).
    explicit TSettings(const QString &fileName);
    ~TSettings();
    TSettings(const TSettings &) = delete;
    TSettings &operator=(const TSettings &) = delete;

    // The port last opened from the COM Port page, as the operator names it ("COM3"; a device
    // path is kept the same way). Empty when none was kept.
    QString Port() const;
    void SetPort(const QString &port);
    // Device paths the operator typed on the COM Port page and opened, that the system does not
    // list itself (pseudo-terminals, say), newest first.
    QStringList TypedDevices() const;
    void AddTypedDevice(const QString &device);
    static constexpr int TypedDeviceCount = 8; // the oldest beyond these are forgotten
    // An Options switch, by the name of its menu item; fallback when it was never kept.
    bool Option(const QString &name, bool fallback) const;
    void SetOption(const QString &name, bool on);
    // The window's place and size, as QWidget::saveGeometry gives them; empty when none was kept.
    QByteArray Geometry() const;
    void SetGeometry(const QByteArray &geometry);
    // The page shown last, by its name; empty when none was kept.
    QString Page() const;
    void SetPage(const QString &page);
    // The folder the operator chose for the logs; empty: none was chosen.
    QString LogFolder() const;
    void SetLogFolder(const QString &folder);
    // How many of the last kept values the statistics of the last N take: 32 to 100000, 1000
    // when none (or no number in range) was kept.
    int32_t StatisticsWindow() const;
    void SetStatisticsWindow(int32_t values);
    // The gauge's display mode, as its number; -1 when none was kept.
    int GaugeMode() const;
    void SetGaugeMode(int mode);
    // The broker, instrument name and credentials file of File > Publishing...; an empty
    // broker: nothing is published.
    TPublishOptions Publishing() const;
    void SetPublishing(const TPublishOptions &options);
    // Writes what was set to its place now (it is written anyway, soon after each change).
    void Sync();

    // What this start adds, not kept. The command line named the device: the window opens COM1,
    // which is that device, whatever port was kept.
    bool PortFromCommandLine = false;
    // --mqtt named a broker: this start publishes there, whatever was kept.
    bool PublishingFromCommandLine = false;
    TPublishOptions CommandLinePublishing;
    // Where the logs go while the operator has chosen no folder; empty: the working folder.
    QString DefaultLogFolder;

    // The folder the installed program started from the desktop keeps its logs in: "Zarn
    // Monitor" in the user's documents folder.
    static QString DocumentsLogFolder();

private:
    std::unique_ptr<QSettings> FStore;
};
