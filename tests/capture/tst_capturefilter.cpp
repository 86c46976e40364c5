// SPDX-License-Identifier: GPL-2.0-or-later

#include <QtTest>

#include "cupdate.h"
#include "filtersettings.h"

Q_DECLARE_METATYPE(FilterSettings)

namespace {

// A segment from 192.168.0.1:80 to 10.0.0.5:51000 unless said otherwise.
QString line(const QString& src = QStringLiteral("192.168.0.1"),
             const QString& sport = QStringLiteral("80"),
             const QString& dst = QStringLiteral("10.0.0.5"),
             const QString& dport = QStringLiteral("51000"))
{
    return QStringLiteral("09:03:05|TCP|%1|%2|%3|%4|2|4142").arg(src, sport, dst, dport);
}

QStringList list(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char('|'));
}

FilterSettings includeIps(const char* text)
{
    FilterSettings s;
    s.include_ip_enabled = true;
    s.include_ips = list(text);
    return s;
}

FilterSettings includePorts(const char* text)
{
    FilterSettings s;
    s.include_port_enabled = true;
    s.include_ports = list(text);
    return s;
}

FilterSettings excludeIps(const char* text)
{
    FilterSettings s;
    s.exclude_ip_enabled = true;
    s.exclude_ips = list(text);
    return s;
}

FilterSettings excludePorts(const char* text)
{
    FilterSettings s;
    s.exclude_port_enabled = true;
    s.exclude_ports = list(text);
    return s;
}

} // namespace

class TstCaptureFilter : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
};

void TstCaptureFilter::decisions_data()
{
    QTest::addColumn<FilterSettings>("settings");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("shown");

    const QString plain = line();
    QTest::newRow("all-off") << FilterSettings {} << plain << true;
    {
        FilterSettings lists; // lists that would reject, with every switch off
        lists.include_ips = list("1.1.1.1");
        lists.exclude_ports = list("80");
        QTest::newRow("lists-without-switches") << lists << plain << true;
    }

    // Each switch alone.
    QTest::newRow("include-ip-source") << includeIps("127.0.1.1|192.168.0.1") << plain << true;
    QTest::newRow("include-ip-destination") << includeIps("10.0.0.5") << plain << true;
    QTest::newRow("include-ip-no-match") << includeIps("127.0.1.1|192.168.0.2") << plain << false;
    QTest::newRow("include-port-source") << includePorts("80|8888") << plain << true;
    QTest::newRow("include-port-destination") << includePorts("51000") << plain << true;
    QTest::newRow("include-port-no-match") << includePorts("443") << plain << false;
    QTest::newRow("exclude-ip-source") << excludeIps("192.168.0.1") << plain << false;
    QTest::newRow("exclude-ip-destination") << excludeIps("10.0.0.5") << plain << false;
    QTest::newRow("exclude-ip-no-match") << excludeIps("127.0.1.1|192.168.0.1.1") << plain << true;
    QTest::newRow("exclude-port-source") << excludePorts("80") << plain << false;
    QTest::newRow("exclude-port-destination") << excludePorts("443|51000") << plain << false;
    QTest::newRow("exclude-port-no-match") << excludePorts("443") << plain << true;

    // Both ends listed, duplicates, one host at both ends: still one row.
    QTest::newRow("include-both-ends") << includeIps("192.168.0.1|192.168.0.2")
                                       << line(QStringLiteral("192.168.0.1"), QStringLiteral("80"),
                                               QStringLiteral("192.168.0.2"))
                                       << true;
    QTest::newRow("include-same-host-both-ends")
            << includeIps("192.168.0.1")
            << line(QStringLiteral("192.168.0.1"), QStringLiteral("80"),
                    QStringLiteral("192.168.0.1"))
            << true;
    QTest::newRow("include-duplicate-port") << includePorts("80|80") << plain << true;

    // Combinations.
    {
        FilterSettings both = includeIps("192.168.0.1");
        both.include_port_enabled = true;
        both.include_ports = list("51000");
        QTest::newRow("include-ip-and-port-both-match") << both << plain << true;
        both.include_ips = list("1.1.1.1");
        QTest::newRow("include-ip-misses-port-matches") << both << plain << true;
        both.include_ports = list("1");
        QTest::newRow("include-both-miss") << both << plain << false;
    }
    {
        FilterSettings s = includePorts("80");
        s.exclude_ip_enabled = true;
        s.exclude_ips = list("10.0.0.5");
        QTest::newRow("exclude-ip-beats-include-port") << s << plain << false;
        s.exclude_ips = list("10.0.0.6");
        QTest::newRow("include-port-exclude-ip-elsewhere") << s << plain << true;
    }
    {
        FilterSettings s = includePorts("443");
        s.exclude_port_enabled = true;
        s.exclude_ports = list("443");
        QTest::newRow("include-and-exclude-same-port")
                << s << line(QStringLiteral("1.2.3.4"), QStringLiteral("443")) << false;
    }
    {
        FilterSettings s = excludeIps("1.1.1.1");
        s.exclude_port_enabled = true;
        s.exclude_ports = list("51000");
        QTest::newRow("exclude-both-port-matches") << s << plain << false;
    }

    // Empty texts, blanks, leading zeros, case.
    QTest::newRow("include-empty-text") << includeIps("") << plain << false;
    QTest::newRow("include-empty-entry-between") << includePorts("8888||443") << plain << false;
    QTest::newRow("exclude-empty-text") << excludePorts("") << plain << true;
    QTest::newRow("exclude-empty-entry-vs-empty-field")
            << excludeIps("") << line(QString(), QStringLiteral("80"), QString()) << true;
    QTest::newRow("include-port-leading-blank") << includePorts(" 80") << plain << false;
    QTest::newRow("include-port-trailing-blank") << includePorts("80 ") << plain << false;
    QTest::newRow("include-port-leading-zero") << includePorts("080") << plain << false;
    QTest::newRow("include-ip-leading-zero") << includeIps("192.168.000.001") << plain << false;
    QTest::newRow("exclude-port-leading-zero") << excludePorts("080") << plain << true;
    QTest::newRow("include-ip-prefix-only") << includeIps("192.168.0") << plain << false;

    // IPv6: an entry names an address however it is spelled; the line
    // spells it as inet_ntop does.
    const QString v6 = line(QStringLiteral("2001:db8::1"), QStringLiteral("443"),
                            QStringLiteral("::1"), QStringLiteral("51000"));
    QTest::newRow("ipv6-as-printed") << includeIps("::1") << v6 << true;
    QTest::newRow("ipv6-uncompressed") << includeIps("0:0:0:0:0:0:0:1") << v6 << true;
    QTest::newRow("ipv6-leading-zeros")
            << includeIps("2001:0db8:0000:0000:0000:0000:0000:0001") << v6 << true;
    QTest::newRow("ipv6-upper-case") << includeIps("1.1.1.1|2001:DB8::1") << v6 << true;
    QTest::newRow("ipv6-other-address") << includeIps("::2|2001:db8::") << v6 << false;
    QTest::newRow("ipv6-exclude-spelled") << excludeIps("::0:1") << v6 << false;
    QTest::newRow("ipv6-exclude-other") << excludeIps("::2") << v6 << true;
    QTest::newRow("ipv6-mapped-dotted-or-hex")
            << includeIps("::FFFF:c000:201")
            << line(QStringLiteral("::ffff:192.0.2.1"), QStringLiteral("80")) << true;
    QTest::newRow("ipv6-mapped-is-not-ipv4")
            << includeIps("::ffff:192.0.2.1") << line(QStringLiteral("192.0.2.1")) << false;
    QTest::newRow("ipv6-with-blank-as-typed") << includeIps(" ::1") << v6 << false;
    QTest::newRow("ipv6-bracketed-as-typed") << includeIps("[::1]") << v6 << false;
    QTest::newRow("ipv6-not-a-port") << includePorts("::1") << v6 << false;
    QTest::newRow("ipv4-still-as-typed") << includeIps("010.0.0.5") << plain << false;

    // Malformed lines never pass, whatever the settings.
    QTest::newRow("seven-fields") << FilterSettings {}
                                  << QStringLiteral("09:03:05|TCP|1.1.1.1|80|2.2.2.2|81|0")
                                  << false;
    QTest::newRow("nine-fields") << FilterSettings {}
                                 << QStringLiteral("09:03:05|TCP|1.1.1.1|80|2.2.2.2|81|1|41|")
                                 << false;
    QTest::newRow("empty-line") << FilterSettings {} << QString() << false;
    QTest::newRow("empty-fields") << FilterSettings {} << QStringLiteral("|||||||") << true;
    QTest::newRow("empty-fields-include-on")
            << includeIps("") << QStringLiteral("|||||||") << false;
}

void TstCaptureFilter::decisions()
{
    QFETCH(FilterSettings, settings);
    QFETCH(QString, line);
    QFETCH(bool, shown);

    CUpdate capture(settings);
    QSignalSpy emitted(&capture, &CUpdate::send_update);
    capture.update_table(line);
    QCOMPARE(emitted.size(), shown ? 1 : 0); // never twice
    if (shown)
        QCOMPARE(emitted.at(0).at(0).toString(), line);
}

QTEST_APPLESS_MAIN(TstCaptureFilter)
#include "tst_capturefilter.moc"
