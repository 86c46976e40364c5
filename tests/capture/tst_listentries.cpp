// SPDX-License-Identifier: GPL-2.0-or-later

#include <QtTest>

#include "listentries.h"

Q_DECLARE_METATYPE(ListKind)

class TstListEntries : public QObject
{
    Q_OBJECT

private slots:
    void unusable_data();
    void unusable();
};

void TstListEntries::unusable_data()
{
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<QString>("text"); // split on "|"
    QTest::addColumn<QStringList>("expected");

    const auto addresses = ListKind::Addresses;
    const auto ports = ListKind::Ports;
    QTest::newRow("ipv4") << addresses << "127.0.1.1|0.0.0.0|255.255.255.255" << QStringList();
    QTest::newRow("ipv6-any-spelling")
            << addresses << "::1|0:0:0:0:0:0:0:1|2001:DB8::2|::ffff:192.0.2.1" << QStringList();
    QTest::newRow("five-parts") << addresses << "127.0.1.1|192.168.0.1.1"
                                << QStringList { "192.168.0.1.1" };
    QTest::newRow("ipv4-out-of-range-or-short") << addresses << "256.1.1.1|1.2.3|1.2.3.4."
                                                << QStringList { "256.1.1.1", "1.2.3", "1.2.3.4." };
    QTest::newRow("ipv4-leading-zero") << addresses << "010.0.0.5" << QStringList { "010.0.0.5" };
    QTest::newRow("blanks") << addresses << " ::1|10.0.0.5 " << QStringList { " ::1", "10.0.0.5 " };
    QTest::newRow("ipv6-malformed") << addresses << "1::2::3|[::1]|fe80::1%lo|::g"
                                    << QStringList { "1::2::3", "[::1]", "fe80::1%lo", "::g" };
    QTest::newRow("host-name") << addresses << "localhost" << QStringList { "localhost" };
    QTest::newRow("empty-entry") << addresses << "1.1.1.1||2.2.2.2" << QStringList { "" };
    QTest::newRow("full-width-digits") << addresses << "１.1.1.1" << QStringList { "１.1.1.1" };

    QTest::newRow("ports") << ports << "0|80|8888|65535" << QStringList();
    QTest::newRow("port-trailing-blank") << ports << "80 |443" << QStringList { "80 " };
    QTest::newRow("port-comma") << ports << "80,443" << QStringList { "80,443" };
    QTest::newRow("port-out-of-range")
            << ports << "65536|99999|100000" << QStringList { "65536", "99999", "100000" };
    QTest::newRow("port-leading-zero-or-sign")
            << ports << "080|+80|-1" << QStringList { "080", "+80", "-1" };
    QTest::newRow("address-in-ports") << ports << "127.0.0.1" << QStringList { "127.0.0.1" };
    QTest::newRow("empty-text") << ports << "" << QStringList { "" };
}

void TstListEntries::unusable()
{
    QFETCH(ListKind, kind);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(unusable_entries(text.split(QLatin1Char('|')), kind), expected);
}

QTEST_APPLESS_MAIN(TstListEntries)
#include "tst_listentries.moc"
