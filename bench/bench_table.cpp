// SPDX-License-Identifier: GPL-2.0-or-later

// The packet table under load: show_data_UI fed record lines, headless, with
// the window shown at its real size; beside it, as the reference, the plain
// loop that appends one row of eight new centred items per line. Each case
// runs in a process of its own so that its peak memory is its own.
//
//   bench_table [rows]          default 1000000; TARNLOOK_BENCH_RUNS runs (3)
//   bench_table --case IMPL PAYLOAD ROWS   one case, one line of figures

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>

#include "benchreport.h"
#include "mainwindow.h"

namespace {

constexpr int kDistinctLines = 4096;
constexpr int kEventsEvery = 256; // lines between two turns of the event loop

// Record lines as the capture makes them, a pool of distinct ones.
QStringList makeLines(int payload)
{
    QStringList lines;
    QString hex;
    for (int i = 0; i < payload; ++i)
        hex += QStringLiteral("%1").arg((i * 37) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    for (int i = 0; i < kDistinctLines; ++i) {
        // Vary the payload's first bytes so that no two lines share a text.
        QString own = hex;
        own.replace(
                0, qMin(8, own.size()),
                QStringLiteral("%1").arg(i, 8, 16, QLatin1Char('0')).toUpper().left(own.size()));
        lines.append(QStringLiteral("%1:%2:%3|TCP|10.0.%4.%5|%6|192.168.1.20|443|%7|%8")
                             .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                             .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(i % 60, 2, 10, QLatin1Char('0'))
                             .arg(i / 256 % 256)
                             .arg(i % 256)
                             .arg(40000 + i)
                             .arg(payload)
                             .arg(own));
    }
    return lines;
}

qint64 textBytes(const QString& line)
{
    return qint64(line.size() - 7) * 2; // the eight fields, without the separators
}

// The reference: what the table's slot did before it was made fast.
void referenceAppend(QTableWidget& table, const QString& line)
{
    const int row = table.rowCount();
    table.setRowCount(row + 1);
    const QStringList fields = line.split(QLatin1Char('|'));
    for (int column = 0; column < 8 && column < fields.size(); ++column) {
        auto* item = new QTableWidgetItem;
        item->setText(fields.at(column));
        item->setTextAlignment(Qt::AlignCenter);
        table.setItem(row, column, item);
    }
}

// One case: prints "rows/s bytes-per-row-beyond-text peak-bytes clear-seconds".
int runCase(const QString& impl, int payload, int rows)
{
    const QStringList lines = makeLines(payload);
    MainWindow window;
    QTableWidget* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    QWidget referenceWindow;
    QTableWidget* reference = nullptr;
    if (impl == QLatin1String("reference")) {
        referenceWindow.resize(window.size());
        reference = new QTableWidget(&referenceWindow);
        reference->setGeometry(table->geometry());
        reference->setColumnCount(9);
        referenceWindow.show();
    } else {
        window.show();
    }
    QApplication::processEvents();

    const qint64 before = bench::residentBytes();
    qint64 text = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rows; ++i) {
        // A text of its own, as every line that arrives from a capture has.
        const QString& pooled = lines.at(i % kDistinctLines);
        const QString line(pooled.constData(), pooled.size());
        text += textBytes(line);
        if (reference != nullptr)
            referenceAppend(*reference, line);
        else
            window.show_data_UI(line);
        if (i % kEventsEvery == kEventsEvery - 1)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 after = bench::residentBytes();

    // Clearing is timed for the program's table only: the reference removes
    // rows one at a time, which on a million rows takes many minutes.
    double clear = -1;
    if (reference == nullptr) {
        timer.restart();
        window.findChild<QPushButton*>(QStringLiteral("pushButton"))->click();
        QApplication::processEvents();
        clear = timer.nsecsElapsed() / 1e9;
    }

    std::printf("%.1f %.1f %lld %.3f\n", rows / seconds, double(after - before - text) / rows,
                bench::peakResidentBytes(), clear);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                 : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QT_LOGGING_RULES", "tarnlook.*.debug=false");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--case"))
        return runCase(args.at(2), args.at(3).toInt(), args.at(4).toInt());

    const int rows = args.size() > 1 ? args.at(1).toInt() : 1000000;
    const int runCount = qEnvironmentVariableIsSet("TARNLOOK_BENCH_RUNS")
            ? qMax(1, qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS"))
            : 3;
    bench::Table table({ QStringLiteral("table"), QStringLiteral("payload"),
                         QStringLiteral("rows/s"), QStringLiteral("× reference"),
                         QStringLiteral("bytes/row beyond text"), QStringLiteral("peak MiB"),
                         QStringLiteral("clear s") });
    for (const int payload : { 100, 1448 }) {
        double referenceRate = 0;
        for (const QString& impl :
             { QStringLiteral("reference"), QStringLiteral("show_data_UI") }) {
            std::vector<double> rate, extra, peak, clear;
            for (int run = 0; run < runCount; ++run) {
                QProcess child;
                child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
                child.start(QCoreApplication::applicationFilePath(),
                            { QStringLiteral("--case"), impl, QString::number(payload),
                              QString::number(rows) });
                if (!child.waitForFinished(-1) || child.exitCode() != 0)
                    return 1;
                const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
                rate.push_back(f.value(0).toDouble());
                extra.push_back(f.value(1).toDouble());
                peak.push_back(f.value(2).toDouble());
                clear.push_back(f.value(3).toDouble());
            }
            const double r = bench::median(rate);
            if (impl == QLatin1String("reference"))
                referenceRate = r;
            table.add({ impl == QLatin1String("reference") ? QStringLiteral("reference loop")
                                                           : QStringLiteral("show_data_UI"),
                        QStringLiteral("%1 B").arg(payload), bench::number(r),
                        bench::number(r / referenceRate, 2), bench::number(bench::median(extra)),
                        bench::number(bench::median(peak) / (1 << 20)),
                        bench::median(clear) < 0 ? QStringLiteral("—")
                                                 : bench::number(bench::median(clear), 3) });
        }
    }
    table.print(QStringLiteral("Packet table: %1 record lines, window shown, median of %2")
                        .arg(rows)
                        .arg(runCount));
    return 0;
}
