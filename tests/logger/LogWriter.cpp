// Appends numbered lines ("<tag>-000001", ...) to a log through TDataLogger, as a second program
// logging into the same file does. Arguments: file, tag, line count, batch size. It prints
// "ready" and starts when a line arrives on standard input, so that several writers can be
// started together.
// Prints the lines written and, if so, that the log was found shared; exits 0 when every
// line was written and no write failed.

#include "logger/Cdatalogger.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    const QByteArray tag = args[2].toLatin1();
    const int count = args[3].toInt();

    TDataLogger logger;
    logger.SetFileName(args[1]);
    logger.SetMaxCount(args[4].toInt());
    logger.SetAutoSaveTime(0);
    bool failed = false;
    bool shared = false;
    logger.OnWriteError.Bind([&failed](QObject *, const QString &, const QString &) { failed = true; });
    logger.OnShared.Bind([&shared](QObject *, const QString &) { shared = true; });

    std::printf("ready\n");
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin))
        return 3;
    for (int i = 1; i <= count; ++i)
        logger.Append(tag + '-' + QByteArray::number(i).rightJustified(6, '0'));
    logger.FlushData();
    std::printf("%lld%s\n", static_cast<long long>(logger.WrittenCount()), shared ? " shared" : "");
    return failed || logger.WrittenCount() != count ? 1 : 0;
}
