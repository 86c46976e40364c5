// SPDX-License-Identifier: GPL-2.0-or-later

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "hexfilesaver.h"
#include "qfilebuffer.h"
#include "qhexdocument.h"
#include "qmemorybuffer.h"

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

ino_t inode(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// Several pieces of saving, no two alike.
QByteArray pattern()
{
    QByteArray bytes(9 << 20, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31 + i / 251);
    return bytes;
}

// While it lives, files this process writes may not grow beyond `bytes`
// (EFBIG, the signal ignored): a full disk, for root too.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { bytes, old.rlim_max };
        set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
    }
    rlimit old {};
    void (*handler)(int) = nullptr;
    bool set = false;
};

} // namespace

class TstHexFileSaver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void save_data();
    void save();
    void savesOntoItsOwnFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstHexFileSaver::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TstHexFileSaver::save_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("saved") << "saved";
    QTest::newRow("disk-full") << "disk-full";
    QTest::newRow("cancelled") << "cancelled";
    QTest::newRow("folder-missing") << "folder-missing";
}

void TstHexFileSaver::save()
{
    QFETCH(QString, how);
    const bool missing = how == QLatin1String("folder-missing");
    const QString path = m_dir->filePath(missing ? "gone/target.bin" : "target.bin");
    QVERIFY(missing || writeFile(path, "old bytes"));
    const ino_t before = inode(path);
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(pattern());
    QHexDocument document(buffer);
    document.insert(0, QByteArray("!"));

    HexFileSaver saver(&document);
    qint64 reported = 0;
    const auto progress = [&](qint64 done, qint64 total) {
        reported = done;
        return how != QLatin1String("cancelled") || done < total / 2;
    };
    bool saved = false;
    if (how == QLatin1String("disk-full")) {
        const FileSizeLimit limit(1 << 20);
        if (!limit.set)
            QSKIP("cannot limit the size of files");
        saved = saver.save(path, progress);
    } else {
        saved = saver.save(path, progress);
    }

    QCOMPARE(saved, how == QLatin1String("saved"));
    QCOMPARE(saver.errorString().isEmpty(), saved);
    QCOMPARE(saver.wasCancelled(), how == QLatin1String("cancelled"));
    QCOMPARE(document.isModified(), !saved);
    if (saved) {
        QCOMPARE(contents(path), "!" + pattern());
        QVERIFY(inode(path) != before); // a new file took the old one's name
        QCOMPARE(reported, document.length());
    } else if (!missing) {
        QCOMPARE(contents(path), QByteArray("old bytes"));
    }
    // No temporary file is left behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             missing ? QStringList() : QStringList { "target.bin" });
}

void TstHexFileSaver::savesOntoItsOwnFile()
{
    // The document reads through the file it is saved to: the new bytes come
    // from the old file while it is replaced, edits included.
    const QString path = m_dir->filePath(QStringLiteral("own.bin"));
    QByteArray model = pattern();
    QVERIFY(writeFile(path, model));
    auto* buffer = new QFileBuffer; // the document takes it over
    QVERIFY(buffer->load(new QFile(path)));
    buffer->setEditable(true);
    QHexDocument document(buffer);
    document.insert(0, QByteArray("head"));
    model.prepend("head");
    document.remove(qint64(3) << 20, 1000);
    model.remove(3 << 20, 1000);
    document.replace(model.size() - 3, QByteArray("END"));
    const QByteArray replaced = model.right(3);
    model.replace(model.size() - 3, 3, "END");

    HexFileSaver saver(&document);
    QVERIFY2(saver.save(path), qPrintable(saver.errorString()));
    QCOMPARE(contents(path), model);
    QCOMPARE(document.read(0, model.size()), model);
    QVERIFY(!document.isModified());

    // The steps before the save can still be undone, and saved again.
    document.undo();
    model.replace(model.size() - 3, 3, replaced);
    QCOMPARE(document.read(0, model.size()), model);
    QVERIFY(saver.save(path));
    QCOMPARE(contents(path), model);
}

QTEST_GUILESS_MAIN(TstHexFileSaver)
#include "tst_hexfilesaver.moc"
