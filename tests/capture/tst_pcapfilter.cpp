// SPDX-License-Identifier: GPL-2.0-or-later

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <QtTest>

#include "pcapfilter.h"
#include "testframes.h"

using namespace testframes;

namespace {

// An Ethernet frame carrying TCP from one end to the other; an address with
// a ":" is IPv6.
QByteArray segment(const QString& from, int from_port, const QString& to, int to_port)
{
    if (from.contains(QLatin1Char(':'))) {
        Ipv6Packet p;
        inet_pton(AF_INET6, from.toLatin1().constData(), p.src);
        inet_pton(AF_INET6, to.toLatin1().constData(), p.dst);
        p.src_port = static_cast<std::uint16_t>(from_port);
        p.dst_port = static_cast<std::uint16_t>(to_port);
        return ethernet(ipv6(p), 0x86DD);
    }
    Ipv4Packet p;
    inet_pton(AF_INET, from.toLatin1().constData(), p.src);
    inet_pton(AF_INET, to.toLatin1().constData(), p.dst);
    p.src_port = static_cast<std::uint16_t>(from_port);
    p.dst_port = static_cast<std::uint16_t>(to_port);
    return ethernet(ipv4(p));
}

// Whether the compiled expression lets the frame through, as libpcap
// would on an Ethernet adapter.
bool passes(const bpf_program& program, const QByteArray& frame)
{
    const pcap_pkthdr header = header_for(frame);
    return pcap_offline_filter(&program, &header,
                               reinterpret_cast<const u_char*>(frame.constData()))
            != 0;
}

} // namespace

class TstPcapFilter : public QObject
{
    Q_OBJECT

private slots:
    void sessionExclusion_data();
    void sessionExclusion();
    void noRemoteSession_data();
    void noRemoteSession();
};

void TstPcapFilter::sessionExclusion_data()
{
    QTest::addColumn<QString>("ssh");
    QTest::addColumn<QString>("display");
    // Frames of the session (left out) and frames that are not (kept).
    QTest::addColumn<QVector<QByteArray>>("own");
    QTest::addColumn<QVector<QByteArray>>("others");

    const QString client = QStringLiteral("192.168.0.1");
    const QString server = QStringLiteral("10.0.0.5");
    const QString local = QStringLiteral("127.0.0.1");
    const QVector<QByteArray> ssh4
            = { segment(client, 51000, server, 22), segment(server, 22, client, 51000) };
    const QVector<QByteArray> near4
            = { segment(client, 51001, server, 22), segment(client, 51000, server, 80),
                segment(QStringLiteral("192.168.0.2"), 51000, server, 22) };

    QTest::newRow("ssh-ipv4") << "192.168.0.1 51000 10.0.0.5 22" << QString() << ssh4 << near4;
    QTest::newRow("ssh-ipv6-with-zone")
            << "fe80::1%eth0 51000 fe80::2 22"
            << ":0"
            << QVector<QByteArray> { segment("fe80::1", 51000, "fe80::2", 22),
                                     segment("fe80::2", 22, "fe80::1", 51000) }
            << QVector<QByteArray> { segment("fe80::1", 51000, "fe80::3", 22), ssh4.first() };
    QTest::newRow("display-tcp") << QString() << "127.0.0.1:10.0"
                                 << QVector<QByteArray> { segment(local, 6010, local, 40000),
                                                          segment(local, 40000, local, 6010) }
                                 << QVector<QByteArray> { segment(local, 6011, local, 40000),
                                                          ssh4.first() };
    QTest::newRow("display-ipv6-tcp") << QString() << "tcp/[::1]:2"
                                      << QVector<QByteArray> { segment("::1", 40000, "::1", 6002) }
                                      << QVector<QByteArray> { segment("::1", 40000, "::1", 6000) };
    QTest::newRow("ssh-and-display")
            << "192.168.0.1 51000 10.0.0.5 22"
            << "127.0.0.1:10" << (ssh4 + QVector<QByteArray> { segment(local, 40000, local, 6010) })
            << near4;
}

void TstPcapFilter::noRemoteSession_data()
{
    QTest::addColumn<QString>("ssh");
    QTest::addColumn<QString>("display");
    QTest::newRow("nothing-set") << QString() << QString();
    QTest::newRow("local-display") << QString() << ":0";
    QTest::newRow("local-display-screen") << QString() << ":1.0";
    QTest::newRow("unix-display") << QString() << "unix:0";
    QTest::newRow("socket-path") << QString() << "/tmp/.X11-unix/X0";
    QTest::newRow("ssh-malformed") << "192.168.0.1 22" << QString();
    QTest::newRow("ssh-port-not-a-number") << "192.168.0.1 x 10.0.0.5 22"
                                           << ":0";
}

void TstPcapFilter::noRemoteSession()
{
    QFETCH(QString, ssh);
    QFETCH(QString, display);
    QCOMPARE(session_exclusion_filter(ssh, display), QString());
}

void TstPcapFilter::sessionExclusion()
{
    QFETCH(QString, ssh);
    QFETCH(QString, display);
    QFETCH(QVector<QByteArray>, own);
    QFETCH(QVector<QByteArray>, others);

    const QString expression = session_exclusion_filter(ssh, display);
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    const auto close = qScopeGuard([dead] { pcap_close(dead); });
    bpf_program program {};
    QVERIFY2(
            pcap_compile(dead, &program, expression.toUtf8().constData(), 1, PCAP_NETMASK_UNKNOWN)
                    == 0,
            qPrintable(expression + QStringLiteral(": ") + QString::fromLatin1(pcap_geterr(dead))));
    const auto free = qScopeGuard([&program] { pcap_freecode(&program); });
    for (int i = 0; i < own.size(); ++i)
        QVERIFY2(!passes(program, own.at(i)), qPrintable(QStringLiteral("own frame %1").arg(i)));
    for (int i = 0; i < others.size(); ++i)
        QVERIFY2(passes(program, others.at(i)),
                 qPrintable(QStringLiteral("other frame %1").arg(i)));
}

QTEST_APPLESS_MAIN(TstPcapFilter)
#include "tst_pcapfilter.moc"
