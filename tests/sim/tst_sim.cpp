// The simulated instrument: record columns read back with the receiver's rules, the model's
// phase as the program's formula recovers it, the waveform block's wire form, the fault options,
// and the real thing over a pseudo-terminal (round trips, pacing, reopening, a vanishing line)
// both in-process and as the zarnsim executable.

#include "sim/SimInstrument.h"
#include "sim/SimProtocol.h"
#include "sim/SimRecords.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include "tests/sim/CraftedReading.h"

#include <QtTest>

#include <cerrno>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 20000;          // generous bound for anything over the line
constexpr int BlockLines = 1568;

// --- Field conversions as the receiving program reads them -------------------------------

// Optional leading blanks, an optional sign, digits, nothing after.
std::optional<int> Decimal(const QByteArray &text)
{
    int i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return std::nullopt;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return static_cast<int>(negative ? -value : value);
}

// Eight hex digits, 32-bit two's complement.
std::optional<qint32> Hex(const QByteArray &text)
{
    if (text.size() != 8)
        return std::nullopt;
    quint32 value = 0;
    for (char c : text) {
        int digit = QByteArray("0123456789ABCDEF").indexOf(static_cast<char>(std::toupper(c)));
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<quint32>(digit);
    }
    return static_cast<qint32>(value);
}

QByteArray TrimTrailingBlanks(QByteArray text)
{
    while (!text.isEmpty() && text.endsWith(' '))
        text.chop(1);
    return text;
}

// The mean report's count: trailing blanks off; a non-digit third character leaves two.
std::optional<int> ReadMeanCount(const QByteArray &field)
{
    QByteArray text = TrimTrailingBlanks(field);
    if (text.size() >= 3 && !std::isdigit(static_cast<unsigned char>(text[2])))
        text = text.left(2);
    return Decimal(text);
}

QByteArray Column(const QByteArray &record, int offset, int length) { return record.mid(offset, length); }

// The program's four-quadrant phase in degrees.
double PhaseAngleDeg(qint32 a, qint32 b)
{
    const double pi = 3.141592653589793;
    if (a == 0 || b == 0)
        return 0.0;
    double r = std::atan(static_cast<double>(b) / static_cast<double>(a));
    if (b > 0)
        r = a > 0 ? r : r + pi;
    else
        r = a < 0 ? r + pi : r + 2 * pi;
    return r * 180.0 / pi;
}

TSimOptions Options(quint32 seed)
{
    TSimOptions options;
    options.Seed = seed;
    return options;
}

QByteArray Answers(TSimProtocol &protocol, const QByteArray &commands)
{
    QByteArray all;
    for (char c : commands)
        all += TSimProtocol::Join(protocol.Answer(c));
    return all;
}

// The slave side of the simulator's terminal, opened the way a serial program opens it.
class TSlave {
public:
    explicit TSlave(const QString &path) { FFd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK); }
    ~TSlave() { Close(); }
    bool IsOpen() const { return FFd >= 0; }
    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }
    bool Write(const QByteArray &bytes) { return ::write(FFd, bytes.constData(), bytes.size()) == bytes.size(); }

    // Reads until at least count bytes have come, the line hangs up, or the bound passes.
    QByteArray ReadAtLeast(int count, int boundMs = WaitMs)
    {
        QByteArray got;
        QDeadlineTimer deadline(boundMs);
        while (got.size() < count && !deadline.hasExpired() && !FHungUp)
            got += ReadSome(50);
        return got;
    }

    // Reads until the text contains what is asked for.
    QByteArray ReadUntilContains(const QByteArray &wanted, int boundMs = WaitMs)
    {
        QByteArray got;
        QDeadlineTimer deadline(boundMs);
        while (!got.contains(wanted) && !deadline.hasExpired() && !FHungUp)
            got += ReadSome(50);
        return got;
    }

    // True once the other end of the line has gone (hang-up seen).
    bool WaitForHangup(int boundMs = WaitMs)
    {
        QDeadlineTimer deadline(boundMs);
        while (!FHungUp && !deadline.hasExpired())
            ReadSome(50);
        return FHungUp;
    }

private:
    QByteArray ReadSome(int pollMs)
    {
        pollfd p{FFd, POLLIN, 0};
        ::poll(&p, 1, pollMs);
        QByteArray got;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<int>(n));
                continue;
            }
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                FHungUp = true;
            break;
        }
        if (p.revents & POLLHUP)
            FHungUp = true;
        return got;
    }

    int FFd = -1;
    bool FHungUp = false;
};


} // namespace

Q_DECLARE_METATYPE(TSimReading)

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void recordColumns_data();
    void recordColumns();
    void hex32_data();
    void hex32();
    void modelPhaseRecovered();
    void seedRepeatable();
    void waveBlockFormat();
    void garble();
    void dropNoiseSplit();
    void ptyRoundTripAndReopen();
    void ptyWaveBlockPaced();
    void ptyVanishAfter();
    void ptyReplyDelayAndCommands();
    void lateHoldsReportsOnly();
    void executableLateReports_data();
    void executableLateReports();
    void executableServesAndStops();
    void executableVanishesAndOptions();
};

void TestSim::recordColumns_data()
{
    QTest::addColumn<TSimReading>("reading");
    QTest::newRow("typical") << Crafted(288, 1031063, 1096287, 25.31, 598);
    QTest::newRow("second quadrant") << Crafted(288, -1200000, 900000, 25.0, 598);
    QTest::newRow("third quadrant, cold") << Crafted(16, -5, -1500000, 9.5, 598);
    QTest::newRow("fourth quadrant, freezing") << Crafted(32, 1500000, -16, -3.25, 598);
    QTest::newRow("negative count") << Crafted(-16, INT_MIN, INT_MAX, 0.0, 598);
    QTest::newRow("hot") << Crafted(999, 1, -1, 104.26, 598);
    TSimModel model(7);
    QTest::newRow("model, first") << model.Reading();
    for (int i = 0; i < 250; ++i)
        model.Acquire();
    QTest::newRow("model, 250th") << model.Reading();
}

void TestSim::recordColumns()
{
    QFETCH(TSimReading, reading);


    const QByteArray dif = SimRecords::DifferenceReport(reading);
    QCOMPARE(dif.size(), 44);
    QVERIFY(dif.startsWith("TRFDIF"));
    QCOMPARE(Decimal(Column(dif, 7, 3)), std::optional<int>(reading.Count));
    QCOMPARE(Hex(Column(dif, 14, 8)), std::optional<qint32>(reading.M1));
    QCOMPARE(Hex(Column(dif, 26, 8)), std::optional<qint32>(reading.M2));
    bool ok = false;
    double temperature = Column(dif, 37, 5).toDouble(&ok);
    QVERIFY2(ok, Column(dif, 37, 5).constData());
    double resolution = std::abs(reading.Temperature) >= 99.995 ? 0.05 : 0.005;
    QVERIFY2(std::abs(temperature - reading.Temperature) <= resolution + 1e-9, dif.constData());
    QVERIFY(!dif.contains("T="));

    const QByteArray mean = SimRecords::MeanReport(reading);
    QCOMPARE(mean.size(), 79);
    QVERIFY(mean.startsWith("TMEAN"));
    QCOMPARE(Decimal(Column(mean, 6, 4)), std::optional<int>(reading.Averages));
    QCOMPARE(Decimal(Column(mean, 17, 4)), std::optional<int>(reading.Peak));
    QCOMPARE(Decimal(Column(mean, 28, 3)), std::optional<int>(reading.Snr));
    QCOMPARE(Decimal(TrimTrailingBlanks(Column(mean, 38, 3))), std::optional<int>(reading.Gain));
    QCOMPARE(ReadMeanCount(Column(mean, 49, 3)), std::optional<int>(reading.Count));
    QCOMPARE(Hex(Column(mean, 57, 8)), std::optional<qint32>(reading.M1));
    QCOMPARE(Hex(Column(mean, 69, 8)), std::optional<qint32>(reading.M2));
    QVERIFY(!mean.contains("T="));
    for (char c : dif + mean)
        QVERIFY(c >= ' ' && c <= '~');
}

void TestSim::hex32_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("-16") << -16 << QByteArray("FFFFFFF0");
    QTest::newRow("-1") << -1 << QByteArray("FFFFFFFF");
    QTest::newRow("zero") << 0 << QByteArray("00000000");
    QTest::newRow("min") << INT_MIN << QByteArray("80000000");
    QTest::newRow("max") << INT_MAX << QByteArray("7FFFFFFF");
    QTest::newRow("amplitude") << 0x0016E360 << QByteArray("0016E360");
}

void TestSim::hex32()
{
    QFETCH(int, value);
    QFETCH(QByteArray, text);
    QCOMPARE(SimRecords::Hex32(value), text);
}

void TestSim::modelPhaseRecovered()
{
    TSimModel model(3);
    double lowest = 1e9, highest = -1e9, biggestStep = 0.0;
    double previous = model.Reading().TimeOfFlight;
    for (int i = 0; i < 2000; ++i) {
        const TSimReading &r = model.Reading();
        QCOMPARE(r.Index, i);
        QCOMPARE(r.Count % 16, 0);
        QVERIFY(r.M1 != 0 && r.M2 != 0);
        double phase = PhaseAngleDeg(r.M1, r.M2);
        QVERIFY2(std::abs(phase - r.PhaseDeg) < 0.001,
                 qPrintable(QString("phase %1 reads as %2").arg(r.PhaseDeg).arg(phase)));
        double tof = (r.Count / 16 + phase / 360.0) * 0.25;
        QVERIFY2(std::abs(tof - r.TimeOfFlight) < 1e-5, qPrintable(QString::number(r.TimeOfFlight)));
        QVERIFY2(r.TimeOfFlight > 4.45 && r.TimeOfFlight < 4.60, qPrintable(QString::number(r.TimeOfFlight)));
        QVERIFY2(r.Temperature > 23.0 && r.Temperature < 27.0, qPrintable(QString::number(r.Temperature)));
        lowest = std::min(lowest, r.TimeOfFlight);
        highest = std::max(highest, r.TimeOfFlight);
        biggestStep = std::max(biggestStep, std::abs(r.TimeOfFlight - previous));
        previous = r.TimeOfFlight;
        model.Acquire();
    }
    qInfo("time of flight %.4f .. %.4f us, largest step %.5f us", lowest, highest, biggestStep);
    QVERIFY(highest - lowest > 0.002);   // it wanders
    QVERIFY(biggestStep < 0.005);        // slowly
}

void TestSim::seedRepeatable()
{
    const QByteArray commands = "?azxtvdaszcz";
    TSimProtocol first(Options(42)), second(Options(42)), other(Options(43));
    QByteArray a = Answers(first, commands);
    QByteArray b = Answers(second, commands);
    QCOMPARE(a.size(), b.size());
    QVERIFY(a == b);
    QVERIFY(Answers(other, commands) != a);
    QCOMPARE(first.CommandCount(), commands.size());
    QCOMPARE(TSimProtocol::Join(first.Answer('\r')), QByteArray());
    QCOMPARE(first.CommandCount(), commands.size());

    // Only the waveform block carries the header mark; any other text could be taken for one.
    for (char c : QByteArray("?acdfkptvxzq"))
        QVERIFY2(!TSimProtocol::Join(first.Answer(c)).contains("T="), QByteArray(1, c).constData());
}

void TestSim::waveBlockFormat()
{
    TSimOptions options = Options(5);
    TSimProtocol protocol(options);
    protocol.Answer('a');
    const TSimReading reading = protocol.Model().Reading();
    const QList<TSimChunk> chunks = protocol.Answer('s');
    QVERIFY(!chunks.isEmpty());

    // The header is a chunk of its own, so it is written whole.
    const QByteArray header = chunks.first().Bytes;
    QCOMPARE(header.size(), 11);
    QVERIFY(header.startsWith("T="));
    QVERIFY(header.endsWith("\r\n"));
    bool ok = false;
    QVERIFY(std::abs(header.mid(2, 5).toDouble(&ok) - reading.Temperature) <= 0.005 + 1e-9);
    QVERIFY(ok);

    const QByteArray block = TSimProtocol::Join(chunks).mid(11);
    QCOMPARE(block.size(), BlockLines * 11);
    QVector<double> transmit, receive;
    for (int i = 0; i < BlockLines; ++i) {
        const QByteArray line = block.mid(i * 11, 11);
        QVERIFY2(line[4] == ',' && line.endsWith("\r\n"), line.constData());
        std::optional<int> first = Decimal(line.left(4)), second = Decimal(line.mid(5, 4));
        QVERIFY2(first && second, line.constData());
        QVERIFY(*first >= 0 && *first <= 4095 && *second >= 0 && *second <= 4095);
        QVERIFY(std::isdigit(static_cast<unsigned char>(line[3])));   // a full-width field
        transmit += *first - 2048;
        receive += *second - 2048;
    }

    // The echo is the burst delayed by the time of flight, 64 samples a microsecond.
    int bestLag = 0;
    double best = -1e300;
    for (int lag = 100; lag < 500; ++lag) {
        double sum = 0.0;
        for (int n = 0; n + lag < BlockLines; ++n)
            sum += transmit[n] * receive[n + lag];
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    const double expectedLag = reading.TimeOfFlight * 64.0;
    qInfo("echo found %d samples after the burst, time of flight gives %.2f", bestLag, expectedLag);
    QVERIFY(std::abs(bestLag - expectedLag) <= 1.0);

    // A shorter block for a shorter capture.
    options.Samples = 1082;
    TSimProtocol shorter(options);
    QCOMPARE(TSimProtocol::Join(shorter.Answer('s')).size(), 11 + 1082 * 11);
}

void TestSim::garble()
{
    TSimOptions spoiled = Options(9);
    spoiled.Garble = 1.0;
    TSimProtocol clean(Options(9)), garbled(spoiled);
    const QByteArray good = TSimProtocol::Join(clean.Answer('z'));
    const QByteArray bad = TSimProtocol::Join(garbled.Answer('z'));
    QCOMPARE(bad.size(), good.size());
    QVERIFY(bad.startsWith("TMEAN"));
    for (const TSimField &f : SimRecords::MeanFields())
        QVERIFY2(bad.mid(f.Offset, f.Length) != good.mid(f.Offset, f.Length), bad.constData());
    QVERIFY(!Hex(bad.mid(57, 8)));
    QVERIFY(!Hex(bad.mid(69, 8)));
    QCOMPARE(bad.left(5) + bad.mid(77), good.left(5) + good.mid(77));

    // Each field independently: a share near the probability, fixed by the seed.
    spoiled.Garble = 0.3;
    TSimProtocol some(spoiled), reference(Options(9));
    int fields = 0, changed = 0;
    for (int i = 0; i < 200; ++i) {
        const QByteArray x = TSimProtocol::Join(some.Answer('x'));
        const QByteArray y = TSimProtocol::Join(reference.Answer('x'));
        for (const TSimField &f : SimRecords::DifferenceFields()) {
            ++fields;
            changed += x.mid(f.Offset, f.Length) != y.mid(f.Offset, f.Length);
        }
        some.Answer('a');
        reference.Answer('a');
    }
    qInfo("%d of %d fields garbled at P = 0.3", changed, fields);
    QVERIFY(changed > fields / 5 && changed < fields * 2 / 5);
}

void TestSim::dropNoiseSplit()
{
    TSimOptions options = Options(12);
    options.Drop = 1.0;
    TSimProtocol silent(options);
    QVERIFY(silent.Answer('z').isEmpty());
    QCOMPARE(silent.CommandCount(), 1);

    options.Drop = 0.5;
    TSimProtocol lossy(options);
    int answered = 0;
    for (int i = 0; i < 200; ++i)
        answered += !lossy.Answer('z').isEmpty();
    QVERIFY(answered > 50 && answered < 150);

    options = Options(12);
    options.Noise = 1.0;
    TSimProtocol noisy(options);
    const QByteArray withNoise = TSimProtocol::Join(noisy.Answer('z'));
    const QByteArray plain = TSimProtocol::Join(TSimProtocol(Options(12)).Answer('z'));
    QCOMPARE(plain.size(), 81);
    QVERIFY(withNoise.startsWith(plain));
    QVERIFY(withNoise.size() > plain.size() && withNoise.size() <= plain.size() + 8);

    // Split changes only the chunking: the same bytes arrive in pieces of at most 7.
    options = Options(12);
    options.Split = true;
    TSimProtocol split(options), whole(Options(12));
    for (char c : QByteArray("zxs")) {
        const QList<TSimChunk> chunks = split.Answer(c);
        QVERIFY(chunks.size() > 1);
        for (const TSimChunk &chunk : chunks)
            QVERIFY(chunk.Bytes.size() >= 1 && chunk.Bytes.size() <= 7);
        QCOMPARE(TSimProtocol::Join(chunks), TSimProtocol::Join(whole.Answer(c)));
    }
}

void TestSim::ptyRoundTripAndReopen()
{
    TSimInstrument instrument(Options(11));
    QString error;
    QVERIFY2(instrument.Start(&error), qPrintable(error));
    TSimProtocol reference(Options(11));

    auto slave = std::make_unique<TSlave>(instrument.SlavePath());
    QVERIFY(slave->IsOpen());
    QVERIFY(slave->Write("z"));
    const QByteArray expected = TSimProtocol::Join(reference.Answer('z'));
    QByteArray got = slave->ReadAtLeast(expected.size());
    QCOMPARE(got, expected);   // raw: CR LF untouched, nothing echoed
    QVERIFY(got.startsWith("TMEAN"));

    QVERIFY(slave->Write("az"));
    reference.Answer('a');
    QCOMPARE(slave->ReadAtLeast(81), TSimProtocol::Join(reference.Answer('z')));

    // The reader goes away: the instrument notices and goes on serving (bench_timing prints how
    // often its worker turns meanwhile).
    const int hangupsBefore = instrument.HangupCount();
    slave.reset();
    QTRY_VERIFY_WITH_TIMEOUT(instrument.HangupCount() > hangupsBefore, WaitMs);
    QVERIFY(instrument.IsServing());

    // And it is there again for the next reader.
    slave = std::make_unique<TSlave>(instrument.SlavePath());
    QVERIFY(slave->IsOpen());
    QVERIFY(slave->Write("x"));
    const QByteArray difference = slave->ReadAtLeast(46);
    QCOMPARE(difference, TSimProtocol::Join(reference.Answer('x')));
    QCOMPARE(instrument.CommandCount(), 4);
    instrument.Stop();
    QVERIFY(!instrument.IsServing());
}

void TestSim::ptyWaveBlockPaced()
{
    TSimInstrument instrument(Options(21));
    QVERIFY(instrument.Start());
    TSlave slave(instrument.SlavePath());
    QVERIFY(slave.IsOpen());
    TSimProtocol reference(Options(21));
    const QByteArray expected = TSimProtocol::Join(reference.Answer('s'));

    // Paced or not, the block comes whole and in order (bench_sim prints its rate against the line).
    QVERIFY(slave.Write("s"));
    const QByteArray got = slave.ReadAtLeast(expected.size(), 60000);
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
    // Counted just after the write returns, so possibly a moment after the reader has the bytes.
    QTRY_COMPARE_WITH_TIMEOUT(instrument.BytesSent(), qint64(expected.size()), WaitMs);
}

void TestSim::ptyVanishAfter()
{
    TSimOptions options = Options(2);
    options.VanishAfter = 2;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    TSlave slave(instrument.SlavePath());
    QVERIFY(slave.IsOpen());

    QVERIFY(slave.Write("t"));
    QVERIFY(slave.ReadUntilContains("\r\n").startsWith("Temperature = "));
    QVERIFY(!instrument.HasVanished());
    QVERIFY(slave.Write("t"));
    QVERIFY(slave.WaitForHangup());
    QTRY_VERIFY_WITH_TIMEOUT(instrument.HasVanished(), WaitMs);
    QCOMPARE(instrument.CommandCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!instrument.IsServing(), WaitMs);
}

void TestSim::ptyReplyDelayAndCommands()
{
    constexpr int DelayMs = 150;
    TSimOptions options = Options(6);
    options.ReplyDelayUs = DelayMs * 1000;
    TSimInstrument instrument(options);
    QVERIFY(instrument.Start());
    TSlave slave(instrument.SlavePath());
    QVERIFY(slave.IsOpen());
    TSimProtocol reference(Options(6));
    reference.Answer('a');
    const QByteArray expected = TSimProtocol::Join(reference.Answer('z'));

    // Delayed, the reply still comes whole (bench_timing prints how late it came).
    QVERIFY(slave.Write("a\r\nz"));
    QCOMPARE(slave.ReadAtLeast(expected.size()), expected);
    QTRY_COMPARE_WITH_TIMEOUT(instrument.Commands(), QByteArray("az"), WaitMs); // line ends are no commands
}

void TestSim::lateHoldsReportsOnly()
{
    TSimOptions options = Options(8);
    options.Late = 1.0;
    options.LateUs = 75000;
    TSimProtocol late(options), plain(Options(8));
    for (char c : QByteArray("zxtsZX?")) {
        late.Answer('a');
        plain.Answer('a');
        const QList<TSimChunk> chunks = late.Answer(c);
        const bool report = QByteArray("zxZX").contains(c);
        QCOMPARE(chunks.first().HoldUs, report ? 75000 : 0);
        for (const TSimChunk &chunk : chunks.mid(1))
            QCOMPARE(chunk.HoldUs, 0);
        QCOMPARE(TSimProtocol::Join(chunks), TSimProtocol::Join(plain.Answer(c)));
    }
}

void TestSim::executableLateReports_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("lateMs");
    QTest::newRow("half late") << QStringList{"--late", "0.5"} << false << 60;
    QTest::newRow("half late, replies split") << QStringList{"--late", "0.5", "--split"} << true << 60;
    QTest::newRow("half late by 100 ms") << QStringList{"--late", "0.5", "--late-ms", "100"} << false << 100;
}

// Cycles as the program runs them: "a", then "z" (every 30th "x"), and a wait of 41 ms for the
// report before the next cycle whether it came or not. A late report comes after that wait,
// and every report still comes exactly once, in order, on the line as on record.
void TestSim::executableLateReports()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, split);
    QFETCH(int, lateMs);
    constexpr int Cycles = 40;
    constexpr int ProgramWaitMs = 41;
    QTemporaryDir folder;
    const QString record = folder.filePath("sent.bin");
    QProcess sim;
    sim.start(QStringLiteral(ZARNSIM_PATH), QStringList{"--seed", "5", "--record", record} + arguments);
    QVERIFY(sim.waitForStarted(WaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), WaitMs);
    TSlave slave(QString::fromLocal8Bit(sim.readLine()).trimmed());
    QVERIFY(slave.IsOpen());

    TSimOptions options = Options(5);
    options.Late = 0.5;
    options.LateUs = lateMs * 1000;
    options.Split = split;
    TSimProtocol reference(options);
    QByteArray expected;
    QList<bool> late;
    QByteArray got;
    // Each report ends with the only line end it holds: the count of line ends is the count of
    // reports that have come whole.
    const auto arrived = [&] { return int(got.count("\r\n")); };
    const auto collect = [&](int boundMs) { got += slave.ReadAtLeast(1, boundMs); };
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        const char command = cycle % 30 == 29 ? 'x' : 'z';
        reference.Answer('a');
        const QList<TSimChunk> answer = reference.Answer(command);
        expected += TSimProtocol::Join(answer);
        late << (answer.first().HoldUs > 0);
        QVERIFY(slave.Write(QByteArray("a") + command));
        QDeadlineTimer wait(ProgramWaitMs);
        while (arrived() <= cycle && !wait.hasExpired())
            collect(int(wait.remainingTime()));
    }
    QDeadlineTimer bound(WaitMs);
    while (got.size() < expected.size() && !bound.hasExpired())
        collect(50);

    // Held or not, every report came once, whole and in order (bench_timing prints how late the
    // held ones came).
    QCOMPARE(got, expected);
    QCOMPARE(arrived(), Cycles);
    const int lateCount = int(late.count(true));
    QVERIFY(lateCount >= Cycles / 4 && lateCount <= Cycles * 3 / 4);
    QFile sent(record);
    QVERIFY(sent.open(QIODevice::ReadOnly));
    QCOMPARE(sent.readAll(), expected);
    sim.terminate();
    QVERIFY(sim.waitForFinished(WaitMs));
}

void TestSim::executableServesAndStops()
{
    QTemporaryDir folder;
    const QString record = folder.filePath("sent.bin");
    QProcess sim;
    sim.start(QStringLiteral(ZARNSIM_PATH), {QStringLiteral("--seed"), QStringLiteral("4"), "--record", record});
    QVERIFY(sim.waitForStarted(WaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), WaitMs);
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(device.startsWith("/dev/pts/"), qPrintable(device));

    TSlave slave(device);
    QVERIFY(slave.IsOpen());
    QVERIFY(slave.Write("?"));
    const QByteArray menu = slave.ReadUntilContains("Enter command: \r\n");
    for (const char *caption : {"(M) Menu", "(A) Acquire Data", "(C) Transmit Continuous Signal",
                                "(D) Display Parameters", "(F) Write Program to Flash", "(K) Test Keypad",
                                "(P) Enter New Parameters", "(S) Send Acquired Data to Host",
                                "(T) Display Temperature", "(V) Send Averaged Data", "(X) Analyze Data",
                                "(Z) Analyze Acquired Data"})
        QVERIFY2(menu.contains(caption), caption);

    TSimProtocol reference(Options(4));
    reference.Answer('?');
    reference.Answer('a');
    QVERIFY(slave.Write("az"));
    const QByteArray report = slave.ReadAtLeast(81);
    QCOMPARE(report, TSimProtocol::Join(reference.Answer('z')));
    // The record holds exactly what went out.
    QFile sent(record);
    QVERIFY(sent.open(QIODevice::ReadOnly));
    QCOMPARE(sent.readAll(), menu + report);

    sim.terminate();   // SIGTERM: a clean exit, not a death by signal
    QVERIFY(sim.waitForFinished(WaitMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(slave.WaitForHangup());
    QCOMPARE(sim.readAllStandardOutput(), QByteArray());   // the device line is the only one
}

void TestSim::executableVanishesAndOptions()
{
    QProcess sim;
    sim.start(QStringLiteral(ZARNSIM_PATH), {QStringLiteral("--vanish-after"), QStringLiteral("1")});
    QVERIFY(sim.waitForStarted(WaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), WaitMs);
    TSlave slave(QString::fromLocal8Bit(sim.readLine()).trimmed());
    QVERIFY(slave.IsOpen());
    QVERIFY(slave.Write("t"));
    QVERIFY(slave.WaitForHangup());
    QVERIFY(sim.waitForFinished(WaitMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);

    QProcess help;
    help.start(QStringLiteral(ZARNSIM_PATH), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(WaitMs));
    QCOMPARE(help.exitCode(), 0);
    const QByteArray usage = help.readAllStandardOutput();
    for (const char *option : {"--seed", "--garble", "--split", "--drop", "--noise", "--vanish-after", "--baud",
                               "--samples", "--reply-delay", "--late", "--late-ms", "--help"})
        QVERIFY2(usage.contains(option), option);

    for (const QStringList &arguments : {QStringList{"--garble", "1.5"}, QStringList{"--late", "-0.1"},
                                         QStringList{"--late-ms", "soon"}}) {
        QProcess wrong;
        wrong.start(QStringLiteral(ZARNSIM_PATH), arguments);
        QVERIFY(wrong.waitForFinished(WaitMs));
        QCOMPARE(wrong.exitCode(), 2);
        QCOMPARE(wrong.readAllStandardOutput(), QByteArray());   // no device printed
    }
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
