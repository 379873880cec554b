// Figures for the measurement series (prints them; asserts nothing):
//  - the program's own work per pass at 20,000 and 10,000,000 points (block
//    header, parking the block in the transfer file and reading it back,
//    float conversion, normalisation, edge search; with and without the
//    per-pass trace files), beside a plain recv loop moving the same three
//    blocks over loopback TCP, the physical limit of the transfer;
//  - the trace files against the disk's sequential write speed, measured in
//    the same run in the same folder;
//  - resident memory over a 10,000-pass series at 20,000 points (Save Data
//    on) and the peak increase during one 10,000,000-point pass.
//
// Usage: bench_measurement [folder for the files, default: system temp]
#include "block.h"
#include "delays.h"
#include "resultfiles.h"
#include "series.h"
#include "tracefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

using namespace measurement;

namespace {

double nowMs(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

long statusKb(const char* key)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long v = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':')
            v = std::atol(line + n + 1);
    std::fclose(f);
    return v;
}
long rssKb()
{
    return statusKb("VmRSS");
}
long hwmKb()
{
    return statusKb("VmHWM");
}
void resetPeak()
{
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (f) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// The three replies of one pass as an instrument sends them: a source step,
// a noisy RF envelope that rises 25 ms later, a sink step 95 ms later.
QByteArray makeBlock(int n, int which)
{
    std::mt19937 rng(which + 7);
    std::normal_distribution<float> noise(0.0f, 0.002f);
    QByteArray data(4 * n, Qt::Uninitialized);
    const int src = n / 2;
    const int edge = which == 0 ? src : which == 1 ? src + n / 40 : src + (n * 95) / 1000;
    for (int i = 0; i < n; ++i) {
        float v = which == 1 ? (i >= edge ? -40.0f : -80.0f) + 50 * noise(rng) : (i >= edge ? 1.0f : 0.0f) + noise(rng);
        std::memcpy(data.data() + 4 * i, &v, 4);  // little-endian host
    }
    const QByteArray len = QByteArray::number(data.size());
    return "#" + QByteArray::number(len.size()) + len + data + "\n";
}

// Everything a pass does except waiting for instruments, on replies already
// in memory: the reply is parked in the transfer file and read back as
// ReadArray does, then converted.
class MemoryHost : public SeriesHost
{
public:
    QByteArray blocks[3];
    std::function<void(const SeriesProgress&)> onPass;
    double readMs = 0.0;  // inside readTrace: transfer file round trip and conversion

    CallResult command(Instrument, const QString&) override { return CallResult::success(); }
    CallResult queryInt(Instrument, const QString& q, int* v) override
    {
        *v = q.contains(QLatin1String("STAT")) ? 1 : 5;
        return CallResult::success();
    }
    CallResult queryDouble(Instrument, const QString&, double* v) override
    {
        *v = 55.0;
        return CallResult::success();
    }
    CallResult readTrace(Instrument, const QString& q, QVector<double>* arr) override
    {
        QElapsedTimer clock;
        clock.start();
        const bool ok = parkAndRead(q, arr);
        readMs += nowMs(clock);
        return ok ? CallResult::success() : CallResult::failure(QStringLiteral("unreadable block"));
    }
    bool parkAndRead(const QString& q, QVector<double>* arr)
    {
        const QByteArray& b = blocks[q.startsWith(QLatin1String("CHAN1"))   ? 0
                                     : q.startsWith(QLatin1String("CHAN2")) ? 2
                                                                            : 1];
        const int n = block::lengthDigitCount(b.constData(), 2);
        quint32 declared = 0;
        if (n < 0 || !block::parseLength(b.constData() + 2, size_t(n), n, &declared))
            return false;
        const QString path = traceTempFile();
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly))
                return false;
            f.write(b.constData() + 2 + n, b.size() - 2 - n);
        }
        // Read back and converted by the program's own code, as in IntReadArray.
        const bool ok = readParkedTrace(path, declared, arr);
        QFile::remove(path);
        return ok;
    }
    bool checkpoint(const SeriesProgress& p) override
    {
        if (onPass && p.counted != m_last) {
            m_last = p.counted;
            onPass(p);
        }
        return true;
    }

private:
    int m_last = -1;
};

struct Traces
{
    QVector<double> d1, d2, d3, t;
    int pts = 0;
    SeriesTraces view()
    {
        SeriesTraces v;
        v.d1 = &d1;
        v.d2 = &d2;
        v.d3 = &d3;
        v.t = &t;
        v.pts = &pts;
        return v;
    }
};

double seriesMsPerPass(MemoryHost& host, Traces& tr, int passes, bool save, const QString& dir)
{
    SeriesSettings s;
    s.passes = passes;
    s.rfFromScope = true;
    s.hdmi = true;
    s.saveData = save;
    s.dataDir = dir;
    QElapsedTimer clock;
    clock.start();
    const SeriesResult r = runSeries(s, tr.view(), host);
    const double ms = nowMs(clock) / passes;
    if (r.counted != passes || r.traceFilesFailed || r.resultsFailed)
        std::printf("  !! series incomplete: %d of %d passes, %d trace files failed\n", r.counted, passes,
                    r.traceFilesFailed);
    return ms;
}

// The edge search of the series, timed on the last pass's traces.
double edgeSearchMs(const Traces& tr, int times)
{
    QElapsedTimer clock;
    clock.start();
    double sink = 0.0;
    for (int i = 0; i < times; ++i)
        sink += computeDelays(0, tr.pts, tr.d1, tr.d2, tr.d3, tr.t).src2Snk;
    const double ms = nowMs(clock) / times;
    if (std::isnan(sink))
        std::printf("  !! no sink edge found\n");
    return ms;
}

void clearFolder(const QString& dir)
{
    QDir d(dir);
    for (const QString& f : d.entryList(QDir::Files))
        d.remove(f);
}

// A plain recv loop on loopback TCP taking the three blocks as a server
// thread sends them back to back: the least any transfer can cost. One
// connection serves every round, so that no round pays for a fresh
// connection's ramp-up.
class BareLink
{
public:
    explicit BareLink(const QByteArray* blocks) : m_blocks(blocks)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t al = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &al);
        m_server = std::thread([this] { serve(); });
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        m_total = blocks[0].size() + blocks[1].size() + blocks[2].size();
        m_buf.resize(size_t(std::min<qint64>(m_total, 64 << 20)));
        trioMs(1);  // warm up: buffers touched, the connection ramped up
    }
    ~BareLink()
    {
        ::close(m_fd);
        m_server.join();
        ::close(m_listen);
    }
    // Milliseconds per request of the three blocks, over `trios` requests.
    double trioMs(int trios)
    {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < trios; ++i) {
            ::send(m_fd, "g", 1, 0);
            qint64 got = 0;
            while (got < m_total) {
                const ssize_t r = ::recv(m_fd, m_buf.data(), std::min<size_t>(m_buf.size(), size_t(m_total - got)), 0);
                if (r <= 0)
                    return -1.0;
                got += r;
            }
        }
        return nowMs(clock) / trios;
    }

private:
    void serve()
    {
        const int c = ::accept(m_listen, nullptr, nullptr);
        char go;
        while (::recv(c, &go, 1, MSG_WAITALL) == 1) {
            for (int b = 0; b < 3; ++b) {
                const char* p = m_blocks[b].constData();
                qint64 left = m_blocks[b].size();
                while (left > 0) {
                    const ssize_t w = ::send(c, p, size_t(left), MSG_NOSIGNAL);
                    if (w <= 0)
                        break;
                    p += w;
                    left -= w;
                }
            }
        }
        ::close(c);
    }

    const QByteArray* m_blocks;
    int m_listen = -1, m_fd = -1;
    qint64 m_total = 0;
    std::vector<char> m_buf;
    std::thread m_server;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Sequential writes of `bytes` into new files in `dir`, MB/s: a plain
// write() loop in 8 MB chunks (the disk's speed) and the three trace files of
// a pass through writeTraceFile, alternated over several rounds because the
// shared disk's speed drifts; medians, without and with fsync.
struct WriteSpeeds
{
    double diskCached, diskSynced, filesCached, filesSynced;
};

void syncFile(const QString& p)
{
    const int fd = ::open(QFile::encodeName(p).constData(), O_WRONLY);
    ::fsync(fd);
    ::close(fd);
}

WriteSpeeds writeSpeeds(const QString& dir, const Traces& tr, int rounds)
{
    const QVector<double>* v[3] = {&tr.d1, &tr.d2, &tr.d3};
    const qint64 bytes = 8LL * tr.pts * 3;
    std::vector<char> chunk(8 << 20, 'x');
    std::vector<double> dc, ds, fc, fs;
    for (int r = 0; r < rounds; ++r) {
        for (int sync = 0; sync < 2; ++sync) {
            const QString plain = dir + QStringLiteral("/plain%1.bin").arg(r * 2 + sync);
            QElapsedTimer clock;
            clock.start();
            const int fd = ::open(QFile::encodeName(plain).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            for (qint64 done = 0; done < bytes;) {
                const ssize_t w = ::write(fd, chunk.data(), size_t(std::min<qint64>(chunk.size(), bytes - done)));
                if (w <= 0)
                    break;
                done += w;
            }
            if (sync)
                ::fsync(fd);
            ::close(fd);
            (sync ? ds : dc).push_back(bytes / 1e6 / (nowMs(clock) / 1000.0));

            clock.restart();
            for (int i = 0; i < 3; ++i) {
                const QString p = dir + QStringLiteral("/set%1_%2.bin").arg(r * 2 + sync).arg(i);
                writeTraceFile(p, *v[i], tr.pts);
                if (sync)
                    syncFile(p);
            }
            (sync ? fs : fc).push_back(bytes / 1e6 / (nowMs(clock) / 1000.0));
        }
    }
    clearFolder(dir);
    return {median(dc), median(ds), median(fc), median(fs)};
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QTemporaryDir work(base + QStringLiteral("/meas-perf-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    const QString dir = work.path();
    // The transfer file's folder decides much of a trace read's cost: memory
    // backed under $XDG_RUNTIME_DIR, a disk file system in the temp folder.
    std::printf("measurement series benchmark (files in %s, transfer file in %s)\n", qPrintable(dir),
                qPrintable(QFileInfo(traceTempFile()).path()));

    // ---- peak during one 10,000,000-point pass, from empty traces ----------
    {
        MemoryHost host;
        for (int b = 0; b < 3; ++b)
            host.blocks[b] = makeBlock(10000000, b);
        Traces tr;
        const long before = rssKb();
        resetPeak();
        seriesMsPerPass(host, tr, 1, true, dir);
        const long peak = hwmKb();
        const double tracesMB = 3 * 10000000 * 8 / 1e6;
        std::printf("\n10,000,000-point pass, Save Data on, traces empty before:\n");
        std::printf("  peak resident increase      %8.1f MB  (traces as doubles %.0f MB; ratio %.2f)\n",
                    (peak - before) / 1024.0, tracesMB, (peak - before) / 1024.0 / tracesMB);
        clearFolder(dir);
    }

    for (int n : {20000, 10000000}) {
        MemoryHost host;
        for (int b = 0; b < 3; ++b)
            host.blocks[b] = makeBlock(n, b);
        const bool big = n > 1000000;
        // The bare transfer and the own work take turns round by round, so a
        // change in the machine's load hits both alike; medians of the rounds.
        const int rounds = big ? 5 : 10;
        const int triosPerRound = big ? 1 : 50;
        const int passesPerRound = big ? 1 : 100;
        Traces tr;
        seriesMsPerPass(host, tr, 1, false, dir);  // warm up: traces allocated, caches hot
        BareLink link(host.blocks);
        std::vector<double> bareRounds, ownRounds, readRounds, edgeRounds;
        for (int r = 0; r < rounds; ++r) {
            bareRounds.push_back(link.trioMs(triosPerRound));
            host.readMs = 0;
            ownRounds.push_back(seriesMsPerPass(host, tr, passesPerRound, false, dir));
            readRounds.push_back(host.readMs / passesPerRound);
            edgeRounds.push_back(edgeSearchMs(tr, passesPerRound));
        }
        const double bare = median(bareRounds), own = median(ownRounds);
        const double reads = median(readRounds), edges = median(edgeRounds);
        const double withFiles = seriesMsPerPass(host, tr, big ? 2 : rounds * passesPerRound, true, dir);
        clearFolder(dir);
        std::printf("\n%d points per trace (blocks of %.1f MB), medians of %d alternating rounds:\n", n,
                    host.blocks[0].size() / 1e6, rounds);
        std::printf("  bare recv of the three blocks   %9.3f ms per pass\n", bare);
        std::printf("  own work, no trace files        %9.3f ms per pass  (%.2fx the bare transfer)\n", own,
                    own / bare);
        std::printf("    of which the three trace reads %8.3f ms (transfer file round trip, conversion),\n"
                    "    edge search %.3f ms, time axis and normalisation %.3f ms\n",
                    reads, edges, own - reads - edges);
        std::printf("  own work with trace files       %9.3f ms per pass\n", withFiles);

        if (big) {
            const WriteSpeeds w = writeSpeeds(dir, tr, 3);
            std::printf("  sequential write of %.0f MB, median of 3 alternating rounds:\n", 8.0 * 3 * n / 1e6);
            std::printf("    plain write() loop (the disk)  %6.0f MB/s to cache, %6.0f MB/s with fsync\n", w.diskCached,
                        w.diskSynced);
            std::printf("    the pass's three trace files   %6.0f MB/s to cache, %6.0f MB/s with fsync"
                        "  (%.0f%% / %.0f%% of the disk)\n",
                        w.filesCached, w.filesSynced, 100 * w.filesCached / w.diskCached,
                        100 * w.filesSynced / w.diskSynced);
        }
    }

    // ---- resident memory over 10,000 passes at 20,000 points, Save Data on ----
    {
        MemoryHost host;
        for (int b = 0; b < 3; ++b)
            host.blocks[b] = makeBlock(20000, b);
        long at100 = 0, maxRss = 0;
        host.onPass = [&](const SeriesProgress& p) {
            if (p.counted == 100)
                at100 = rssKb();
            if (p.counted % 100 == 0)
                maxRss = std::max(maxRss, rssKb());
        };
        Traces tr;
        const long start = rssKb();
        const double ms = seriesMsPerPass(host, tr, 10000, true, dir);
        const long end = rssKb();
        std::printf("\n10,000-pass series at 20,000 points, Save Data on (%.3f ms per pass):\n", ms);
        std::printf("  resident: start %.1f MB, after 100 passes %.1f MB, max %.1f MB, end %.1f MB\n", start / 1024.0,
                    at100 / 1024.0, maxRss / 1024.0, end / 1024.0);
        std::printf("  growth from pass 100 to the end: %.2f MB\n", (maxRss - at100) / 1024.0);
        clearFolder(dir);
    }
    return 0;
}
