#pragma once
// The serial devices the system has now, for the operator to choose from and for the owner of a
// lost port to see it come back. TPortEnumerator holds the list and says when it changed; the
// product's TSystemPortEnumerator fills it from the system and watches /dev, tests fill it by hand.

#include <QList>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

struct TSystemPort {
    QString Path;        // the device node, "/dev/ttyUSB0"
    QString StableName;  // its /dev/serial/by-id link, empty where the system makes none
    QString Description; // what the device says it is, may be empty

    bool operator==(const TSystemPort &o) const
    {
        return Path == o.Path && StableName == o.StableName && Description == o.Description;
    }
    bool operator!=(const TSystemPort &o) const { return !(*this == o); }
};

class TPortEnumerator : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QList<TSystemPort> &Ports() const { return FPorts; }
    // The entry a device path names (its node or its stable link, or where a link leads); null
    // when the system has no such device now.
    const TSystemPort *Find(const QString &device) const;
    // Looks at the system again now; Changed follows when the list differs.
    virtual void Refresh() {}
    // Replaces the list; Changed when it differs.
    void SetPorts(const QList<TSystemPort> &ports);

signals:
    void Changed();

private:
    QList<TSystemPort> FPorts;
};

class TSystemPortEnumerator : public TPortEnumerator {
    Q_OBJECT
public:
    explicit TSystemPortEnumerator(QObject *parent = nullptr);

    void Refresh() override;
    // The serial devices under the system's device folder, by path.
    static QList<TSystemPort> Scan();
    // A terminal device can be opened at this path now (a node, a link to one, a bind mount):
    // whatever the system lists, a path whose device has gone fails here.
    static bool DevicePresent(const QString &path);

private:
    void Watch();

    QFileSystemWatcher *FWatcher = nullptr;
    QTimer *FSettle = nullptr;
};
