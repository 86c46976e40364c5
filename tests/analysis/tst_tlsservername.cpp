// SPDX-License-Identifier: GPL-2.0-or-later

#include <QtTest>

#include "clienthello.h"
#include "tlsservername.h"

// The server name read from ClientHellos that OpenSSL makes, whole and cut
// at every length, and from bytes that are no ClientHello.
class TstTlsServerName : public QObject
{
    Q_OBJECT

private slots:
    void nameOfEveryPrefix_data();
    void nameOfEveryPrefix();
    void noName_data();
    void noName();
};

namespace {

std::optional<std::string> name_of(const QByteArray& bytes, int size)
{
    return tls_server_name(reinterpret_cast<const unsigned char*>(bytes.constData()),
                           static_cast<std::size_t>(size));
}

} // namespace

void TstTlsServerName::nameOfEveryPrefix_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("alpn");
    QTest::newRow("tls1.3") << QByteArray("www.example.org") << TLS1_3_VERSION << QByteArray();
    QTest::newRow("tls1.2") << QByteArray("example.org") << TLS1_2_VERSION << QByteArray();
    QTest::newRow("one-letter") << QByteArray("a") << TLS1_3_VERSION << QByteArray();
    QTest::newRow("longest-dns-name")
            << (QByteArray("a.").repeated(126) + "b") << TLS1_3_VERSION << QByteArray();
    QTest::newRow("with-alpn") << QByteArray("h2.example.org") << TLS1_3_VERSION
                               << QByteArray("\x02h2\x08http/1.1");
}

// Whole, the hello gives its name; cut before the name's last byte,
// nothing; never anything else.
void TstTlsServerName::nameOfEveryPrefix()
{
    QFETCH(QByteArray, name);
    QFETCH(int, version);
    QFETCH(QByteArray, alpn);
    const QByteArray hello = client_hello(name, version, alpn);
    QVERIFY(!hello.isEmpty());
    // The name as the extension holds it (type 0, then its length), so that
    // a short name is not found among the hello's random bytes.
    QByteArray entry(3, '\0');
    entry[1] = static_cast<char>(name.size() >> 8);
    entry[2] = static_cast<char>(name.size() & 0xFF);
    entry += name;
    const int end = hello.indexOf(entry) + entry.size();
    QVERIFY(end >= entry.size());
    for (int size = 0; size <= hello.size(); ++size) {
        const std::optional<std::string> found = name_of(hello, size);
        if (size < end)
            QVERIFY2(!found, qPrintable(QStringLiteral("cut at %1").arg(size)));
        else
            QCOMPARE(QByteArray::fromStdString(found.value_or("(none)")), name);
    }
}

void TstTlsServerName::noName_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray hello = client_hello("example.org");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no-server-name") << client_hello({});
    QTest::newRow("http") << QByteArray("GET / HTTP/1.1\r\nHost: example.org\r\n\r\n");
    QTest::newRow("application-data-record") << (QByteArray(1, '\x17') + hello.mid(1));
    QTest::newRow("not-a-client-hello") << (hello.left(5) + '\x02' + hello.mid(6));
    // The name's length claims more than the hello holds.
    QByteArray overlong = hello;
    overlong[hello.indexOf("example.org") - 1] = '\x7F';
    QTest::newRow("name-past-its-list") << overlong;
    QByteArray control = hello;
    control[hello.indexOf("example.org")] = '\n';
    QTest::newRow("control-character") << control;
}

void TstTlsServerName::noName()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!name_of(bytes, bytes.size()));
}

QTEST_APPLESS_MAIN(TstTlsServerName)
#include "tst_tlsservername.moc"
