#include "guide/GuideFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

namespace {

QString &DataFolder()
{
    static QString folder = QStringLiteral(ZARN_DATA_DIR);
    return folder;
}

QString &ProgramFolder()
{
    static QString folder;
    return folder;
}

} // namespace

QString GuideProgramFolder()
{
    return ProgramFolder().isEmpty() ? QCoreApplication::applicationDirPath() : ProgramFolder();
}

void SetGuideProgramFolder(const QString &folder)
{
    ProgramFolder() = folder;
}

QString GuideDataFolder()
{
    return DataFolder();
}

void SetGuideDataFolder(const QString &folder)
{
    DataFolder() = folder;
}

QString GuideFilePath()
{
    if (QFileInfo(GuideFileName).isFile())
        return GuideFileName;
    for (const QString &folder : {GuideProgramFolder(), GuideDataFolder()}) {
        const QString path = QDir(folder).filePath(GuideFileName);
        if (!folder.isEmpty() && QFileInfo(path).isFile())
            return path;
    }
    return GuideFileName;
}

TGuideText DecodeGuideText(const QByteArray &bytes)
{
    TGuideText result;
    QByteArrayView text(bytes);
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text = text.first(zero);
    if (text.size() > GuideMaxBytes) {
        result.Cut = true;
        text = text.first(GuideMaxBytes);
        // Keep whole lines; a single line longer than the cap keeps what fits.
        const qsizetype lastEnd = std::max(text.lastIndexOf('\n'), text.lastIndexOf('\r'));
        if (lastEnd >= 0)
            text = text.first(lastEnd + 1);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    result.Text = utf8(text);
    if (utf8.hasError())
        result.Text = QString::fromLatin1(text);
    return result;
}

TGuideTree ParseGuide(const QByteArray &bytes)
{
    TGuideTree tree;
    const TGuideText decoded = DecodeGuideText(bytes);
    tree.Cut = decoded.Cut;
    const QString &text = decoded.Text;
    std::vector<int> path; // the node of the line before and its ancestors, top-level first
    qsizetype pos = 0;
    while (pos < text.size()) {
        if (tree.Nodes.size() == static_cast<size_t>(GuideMaxNodes)) {
            tree.Cut = true;
            break;
        }
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        qsizetype indent = pos;
        while (indent < end && (text[indent] == u'\t' || text[indent] == u' '))
            ++indent;
        const qsizetype depth = indent - pos;
        QString nodeText = text.mid(indent, end - indent);
        if (nodeText.size() > GuideMaxText) {
            nodeText.truncate(nodeText[GuideMaxText - 1].isHighSurrogate() ? GuideMaxText - 1 : GuideMaxText);
            tree.Cut = true;
        }
        // The first line is top-level whatever its depth; later lines may go at most one deeper.
        if (!path.empty() && depth > static_cast<qsizetype>(path.size())) {
            tree.Error = QStringLiteral("Invalid level (%1) for item \"%2\"").arg(depth).arg(nodeText);
            break;
        }
        path.resize(path.empty() ? 0 : static_cast<size_t>(depth));
        tree.Nodes.push_back(TGuideNode{path.empty() ? -1 : path.back(), nodeText});
        path.push_back(static_cast<int>(tree.Nodes.size() - 1));

        pos = end;
        if (pos < text.size())
            pos += text[pos] == u'\r' && pos + 1 < text.size() && text[pos + 1] == u'\n' ? 2 : 1;
    }
    return tree;
}

bool ReadGuideFile(const QString &fileName, QByteArray &bytes, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    bytes = file.read(GuideMaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return true;
}

void FillPrintDocument(const QString &text, QTextDocument &document)
{
    document.clear();
    // Indents count in space widths; a tab reaches the next tab stop, as the plain text showed it.
    const qreal space = std::max<qreal>(1, QFontMetricsF(document.defaultFont()).horizontalAdvance(u' '));
    const int tabSpaces = std::max(1, qRound(document.defaultTextOption().tabStopDistance() / space));
    document.setIndentWidth(space);
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast(); // a trailing end of line adds no line
    QTextCursor cursor(&document);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        int columns = 0;
        qsizetype start = 0;
        for (; start < line.size() && (line[start] == u'\t' || line[start] == u' '); ++start)
            columns = line[start] == u'\t' ? (columns / tabSpaces + 1) * tabSpaces : columns + 1;
        QTextBlockFormat format;
        format.setIndent(columns);
        if (i == 0)
            cursor.setBlockFormat(format);
        else
            cursor.insertBlock(format);
        cursor.insertText(line.mid(start));
    }
}
