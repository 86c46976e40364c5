// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "qmemorybuffer.h"

namespace {

constexpr qint64 kSparseSize = (Q_INT64_C(8) << 30) + 5; // 8 GiB and 5 bytes
constexpr int kKeysPerRound = 100;

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7);
    return bytes;
}

} // namespace

// What a hex view costs to paint and to navigate, by document size: the cost
// must follow the rows on screen, not the bytes in the document.
class BenchHexView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void paintViewport_data();
    void paintViewport();
    void keyRepeat_data();
    void keyRepeat();

private:
    // A shown view of a full-screen size over the named document.
    std::unique_ptr<QHexView> openView(const QString& source);

    QTemporaryDir m_dir;
    QString m_sparsePath;
};

void BenchHexView::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sparsePath = m_dir.filePath(QStringLiteral("sparse.bin"));
    QFile file(m_sparsePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(kSparseSize)); // a hole: no block is written
}

std::unique_ptr<QHexView> BenchHexView::openView(const QString& source)
{
    auto view = std::make_unique<QHexView>();
    QHexDocument* document = nullptr;
    if (source == QLatin1String("sparse")) {
        document = QHexDocument::fromFile(m_sparsePath, view.get());
    } else {
        auto* buffer = new QMemoryBuffer(); // the document takes it over
        buffer->load(pattern(source == QLatin1String("1KiB") ? 1024 : 64 * 1024));
        document = new QHexDocument(buffer, view.get());
    }
    view->setDocument(document);
    view->resize(1000, 800);
    view->show();
    return view;
}

void BenchHexView::paintViewport_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("atEnd");

    QTest::newRow("1KiB") << QStringLiteral("1KiB") << false;
    QTest::newRow("64KiB") << QStringLiteral("64KiB") << false;
    QTest::newRow("64KiB-end") << QStringLiteral("64KiB") << true;
    QTest::newRow("8GiB-sparse") << QStringLiteral("sparse") << false;
    QTest::newRow("8GiB-sparse-end") << QStringLiteral("sparse") << true;
}

void BenchHexView::paintViewport()
{
    QFETCH(QString, source);
    QFETCH(bool, atEnd);

    const std::unique_ptr<QHexView> view = openView(source);
    QVERIFY(view->document() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    if (atEnd)
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());

    QBENCHMARK
    {
        view->viewport()->repaint();
    }
}

void BenchHexView::keyRepeat_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("forward");
    QTest::addColumn<int>("backward");

    QTest::newRow("down-up-64KiB")
            << QStringLiteral("64KiB") << int(Qt::Key_Down) << int(Qt::Key_Up);
    QTest::newRow("down-up-8GiB-sparse")
            << QStringLiteral("sparse") << int(Qt::Key_Down) << int(Qt::Key_Up);
    QTest::newRow("right-left-8GiB-sparse")
            << QStringLiteral("sparse") << int(Qt::Key_Right) << int(Qt::Key_Left);
    QTest::newRow("pagedown-up-8GiB-sparse")
            << QStringLiteral("sparse") << int(Qt::Key_PageDown) << int(Qt::Key_PageUp);
}

// One round is kKeysPerRound auto-repeated key presses, half forward and half
// back, each followed by the repaint it asks for.
void BenchHexView::keyRepeat()
{
    QFETCH(QString, source);
    QFETCH(int, forward);
    QFETCH(int, backward);

    const std::unique_ptr<QHexView> view = openView(source);
    QVERIFY(view->document() != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    // Start in the middle, so that neither end stops the cursor.
    view->document()->cursor()->moveTo(view->document()->length() / 2);

    const auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(view.get(), &event);
        view->viewport()->repaint();
    };
    QBENCHMARK
    {
        for (int i = 0; i < kKeysPerRound / 2; ++i)
            press(forward);
        for (int i = 0; i < kKeysPerRound / 2; ++i)
            press(backward);
    }
}

QTEST_MAIN(BenchHexView)
#include "bench_hexview.moc"
