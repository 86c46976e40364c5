#include <optional>

#include <QtTest>

#include "hexcommandline.h"

class TstHexCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void hexFile_data();
    void hexFile();
};

void TstHexCommandLine::hexFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file"); // null: no hex window

    QTest::newRow("none") << QStringList { "tarnlook" } << QString();
    QTest::newRow("option-and-value") << QStringList { "tarnlook", "--hex", "a.bin" } << "a.bin";
    QTest::newRow("joined-value") << QStringList { "tarnlook", "--hex=/tmp/x y.bin" }
                                  << "/tmp/x y.bin";
    QTest::newRow("value-missing") << QStringList { "tarnlook", "--hex" } << QString();
    QTest::newRow("among-others") << QStringList { "tarnlook", "-i", "lo", "--hex", "a.bin", "-k" }
                                  << "a.bin";
    QTest::newRow("file-without-option") << QStringList { "tarnlook", "a.bin" } << QString();
}

void TstHexCommandLine::hexFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    const std::optional<QString> found = hexFileArgument(arguments);
    QCOMPARE(found.has_value(), !file.isNull());
    if (found)
        QCOMPARE(*found, file);
}

QTEST_APPLESS_MAIN(TstHexCommandLine)
#include "tst_hexcommandline.moc"
