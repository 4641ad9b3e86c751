// The guide file loader. The tree it builds is compared with one built another way from the same
// decoded text (lines split by a regular expression, each node's parent found by searching back
// for the last node one level up); whatever the bytes, every parent comes before its children,
// no line goes more than one level below the line before it, and the caps hold.

#include "fuzz/FuzzCheck.h"
#include "guide/GuideFile.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>

#include <vector>

namespace {

const QRegularExpression LineEnd(QStringLiteral("\\r\\n|\\r|\\n"));
const QRegularExpression Indent(QStringLiteral("\\A[\\t ]*"));

struct TExpected {
    std::vector<TGuideNode> Nodes;
    QString Error;
    bool Cut = false;
};

TExpected Expected(const TGuideText &decoded)
{
    TExpected e;
    e.Cut = decoded.Cut;
    QStringList lines = decoded.Text.split(LineEnd);
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast(); // a final line end adds no node
    std::vector<int> levels;
    for (const QString &line : lines) {
        if (e.Nodes.size() == size_t(GuideMaxNodes)) {
            e.Cut = true;
            break;
        }
        const int depth = int(Indent.match(line).capturedLength());
        QString text = line.mid(depth);
        if (text.size() > GuideMaxText) {
            text.truncate(text[GuideMaxText - 1].isHighSurrogate() ? GuideMaxText - 1 : GuideMaxText);
            e.Cut = true;
        }
        const int level = e.Nodes.empty() ? 0 : depth;
        if (!e.Nodes.empty() && level > levels.back() + 1) {
            e.Error = QStringLiteral("Invalid level (%1) for item \"%2\"").arg(depth).arg(text);
            break;
        }
        int parent = -1;
        for (int i = int(e.Nodes.size()) - 1; level > 0 && i >= 0; --i)
            if (levels[size_t(i)] == level - 1) {
                parent = i;
                break;
            }
        e.Nodes.push_back({parent, text});
        levels.push_back(level);
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TGuideText decoded = DecodeGuideText(bytes);
    FUZZ_CHECK(!decoded.Text.contains(QChar(0)));
    FUZZ_CHECK(decoded.Text.size() <= qMin<qsizetype>(bytes.size(), GuideMaxBytes));

    const TGuideTree tree = ParseGuide(bytes);
    const TExpected expected = Expected(decoded);
    FUZZ_CHECK(tree.Nodes.size() <= size_t(GuideMaxNodes));
    FUZZ_CHECK(tree.Nodes.size() == expected.Nodes.size());
    for (size_t i = 0; i < tree.Nodes.size(); ++i) {
        FUZZ_CHECK(tree.Nodes[i].Parent >= -1 && tree.Nodes[i].Parent < int(i));
        FUZZ_CHECK(tree.Nodes[i].Parent == expected.Nodes[i].Parent);
        FUZZ_CHECK(tree.Nodes[i].Text == expected.Nodes[i].Text);
        FUZZ_CHECK(tree.Nodes[i].Text.size() <= GuideMaxText);
    }
    FUZZ_CHECK(tree.Error == expected.Error);
    FUZZ_CHECK(tree.Cut == expected.Cut);
    return 0;
}
