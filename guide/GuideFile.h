#pragma once
// The user's guide file "ZarnMonitor.txt": one tree node per line, the node's depth given by
// the tabs and spaces that start the line. Needs no window: bytes in, nodes or an error out.

#include <QByteArray>
#include <QString>
#include <vector>

inline const QString GuideFileName = QStringLiteral("ZarnMonitor.txt");

// The folder the package installs the guide file in; a test may point it elsewhere.
QString GuideDataFolder();
void SetGuideDataFolder(const QString &folder);
// The folder of the program's executable (where an unpacked build keeps its guide file); a test
// may point it elsewhere, empty: the executable's folder again.
QString GuideProgramFolder();
void SetGuideProgramFolder(const QString &folder);
// The guide file to read: GuideFileName in the working folder when it is there, else the one
// beside the executable, else the one in the data folder, else the bare name (which then is not
// found, and the built-in guide stands in).
QString GuideFilePath();

// Caps on what is read, so that a huge or binary file cannot stall the window: at most
// GuideMaxBytes of the file (cut back to its last whole line), at most GuideMaxNodes lines, and
// at most GuideMaxText characters of a line (the tree lays out a node's whole text at each paint).
constexpr qsizetype GuideMaxBytes = 1024 * 1024;
constexpr int GuideMaxNodes = 10000;
constexpr int GuideMaxText = 1024;

struct TGuideText {
    QString Text;
    bool Cut = false; // the bytes went on beyond GuideMaxBytes
};

struct TGuideNode {
    int Parent = -1; // index of the parent in the node list; -1 for a top-level node
    QString Text;
};

struct TGuideTree {
    std::vector<TGuideNode> Nodes; // in file order, so a parent always comes before its children
    QString Error;                 // why loading stopped at a line; the nodes before it stay
    bool Cut = false;              // the text went on beyond the caps; Nodes hold what fitted
};

// The guide's text: it ends at the first zero byte; UTF-8 when it is valid UTF-8, Latin-1 otherwise.
TGuideText DecodeGuideText(const QByteArray &bytes);
// The tree the guide's lines describe (line ends CR LF, LF or CR).
TGuideTree ParseGuide(const QByteArray &bytes);
// Reads a guide file, one byte more than the cap so that a cut can be told. False with the
// reason in error when the file cannot be read.
bool ReadGuideFile(const QString &fileName, QByteArray &bytes, QString &error);
// The guide the window shows when there is no guide file, in the guide file's format.
QByteArray BuiltInGuide();

class QTextDocument;
// The guide's text as a document to print: one paragraph per line, its leading tabs and spaces
// turned into an indent that the paragraph's wrapped lines keep too (a tab to the next of the
// document's tab stops, a space one space wide).
void FillPrintDocument(const QString &text, QTextDocument &document);
