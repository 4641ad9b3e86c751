#include "guide/GuideFile.h"

#include <QFile>

// The built-in guide is the guide file the package ships, compiled in as a resource, so the two
// never differ.
QByteArray BuiltInGuide()
{
    QFile file(QStringLiteral(":/guide/") + GuideFileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
