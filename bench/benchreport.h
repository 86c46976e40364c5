// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Small helpers the benchmark programs share: medians, peak memory, waiting
// for a paint and a markdown table printed to standard output (scripts/run-benchmarks collects
// the tables into bench/RESULTS.md).

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace bench {

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The peak resident set of this process, in bytes (VmHWM).
inline qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// The resident set of this process now, in bytes (VmRSS).
inline qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// The processor time this thread has used, in seconds: beside a wall-clock
// time, it tells what the work cost when other work shares the machine.
inline double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Runs per measure: TARNLOOK_BENCH_RUNS, 3 unless set.
inline int runs()
{
    const int n = qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS");
    return n > 0 ? n : 3;
}

// The 1-, 5- and 15-minute load averages, as /proc/loadavg gives them.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QStringLiteral("?");
}

// Seconds a command takes with its standard output thrown away, or -1 when
// it cannot be run, fails, or takes longer than `limit` seconds (it is
// then killed; 0: no limit).
inline double timeCommand(const QString& program, const QStringList& arguments, int limit = 0)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted())
        return -1;
    if (!process.waitForFinished(limit > 0 ? limit * 1000 : -1)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

// Runs the event loop until the object (a widget; a scroll area's viewport)
// gets its next paint event, and until that paint is done.
inline void waitForPaint(QObject* target)
{
    struct PaintSeen : QObject
    {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* e) override
        {
            seen = seen || e->type() == QEvent::Paint;
            return false;
        }
    } paint;
    target->installEventFilter(&paint);
    while (!paint.seen)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents(); // the paint itself done
    target->removeEventFilter(&paint);
}

class Table
{
public:
    explicit Table(QStringList header)
        : m_rows { std::move(header) }
    { }
    void add(QStringList row) { m_rows.append(std::move(row)); }
    void print(const QString& title) const
    {
        std::printf("## %s\n\n", qPrintable(title));
        for (int i = 0; i < m_rows.size(); ++i) {
            std::printf("| %s |\n", qPrintable(m_rows.at(i).join(QStringLiteral(" | "))));
            if (i == 0) {
                QStringList rule;
                for (int c = 0; c < m_rows.at(0).size(); ++c)
                    rule.append(QStringLiteral("---"));
                std::printf("| %s |\n", qPrintable(rule.join(QStringLiteral(" | "))));
            }
        }
        std::printf("\n");
        std::fflush(stdout);
    }

private:
    QList<QStringList> m_rows;
};

inline QString number(double value, int decimals = 0)
{
    return QString::number(value, 'f', decimals);
}

} // namespace bench
