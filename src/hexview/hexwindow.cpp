// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexwindow.h"

#include <functional>
#include <new>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>

#include "hexclipboardlimit.h"
#include "hexfilesaver.h"
#include "hexfindbar.h"
#include "hexoffset.h"
#include "hexpaste.h"
#include "hexstatusbar.h"
#include "qfilebuffer.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexrenderer.h"
#include "qhexview.h"

namespace {

constexpr int kProgressSteps = 1000;
constexpr int kMinimumPointSize = 4;

QString appTitle()
{
    return HexWindow::tr("HexEdit 十六进制查看编辑");
}

// Whether typing goes to the hex column. The view's renderer knows; one
// replaced with the document lingers until deleted later, so the newest is
// taken.
bool caretInHexColumn(const QHexView& view)
{
    const QList<QHexRenderer*> renderers = view.findChildren<QHexRenderer*>();
    return !renderers.isEmpty() && renderers.last()->selectedArea() == QHexRenderer::HexArea;
}

// What the window manager's title bar and borders take, guessed: before a
// window is first shown nobody knows.
const QMargins kFrameAllowance(8, 40, 8, 8);

// Makes the window fit the free area of its screen (without panels), its
// frame included, but no smaller than its least size: on a screen of 1024 x
// 600 the status bar stays in sight.
void fitIntoScreen(QWidget& window)
{
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        return;
    const QSize room = screen->availableGeometry().marginsRemoved(kFrameAllowance).size();
    const QSize fitted = window.size().boundedTo(room).expandedTo(window.minimumSize());
    if (fitted != window.size())
        window.resize(fitted);
}

// Bytes in MiB with one decimal, for messages.
QString mebibytes(qint64 bytes)
{
    return QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1);
}

// Runs an edit that builds a copy of the data in memory; a failed allocation
// is reported instead of ending the program. False when it failed.
bool runOrReportMemory(QWidget* parent, const QString& title, const std::function<void()>& edit)
{
    try {
        edit();
        return true;
    } catch (const std::bad_alloc&) {
        QMessageBox::warning(parent, title, HexWindow::tr("内存不足，无法完成此操作。"));
        return false;
    }
}

} // namespace

HexWindow::HexWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_view(new QHexView(this))
    , m_findbar(new HexFindBar(m_view, this))
    , m_statusbar(new HexStatusBar(this))
    , m_findtoolbar(new QToolBar(tr("查找"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(m_view);
    setStatusBar(m_statusbar);

    m_findtoolbar->setObjectName(QStringLiteral("findToolBar"));
    m_findtoolbar->setMovable(false);
    m_findtoolbar->setFloatable(false);
    m_findtoolbar->addWidget(m_findbar);
    addToolBar(Qt::BottomToolBarArea, m_findtoolbar);
    m_findtoolbar->hide();
    const auto hideFindBar = [this] {
        m_findtoolbar->hide();
        m_view->setFocus();
    };
    connect(m_findbar, &HexFindBar::closeRequested, this, hideFindBar);
    // Esc anywhere in the window: a running search stops, else the bar goes.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this, hideFindBar] {
        if (m_findbar->isSearching())
            m_findbar->cancel();
        else if (m_findtoolbar->isVisible())
            hideFindBar();
    });

    createActions();
    // A fixed floor: otherwise every longer text in the status bar would
    // raise the smallest width the window may be given.
    setMinimumSize(320, 240);
    resize(700, 600);
    attachDocument();
    m_view->setFocus();
}

HexWindow::~HexWindow()
{
    // The view deletes the document after this destructor, and the
    // document's undo stack still signals then.
    if (m_attached != nullptr) {
        m_attached->disconnect(this);
        m_attached->cursor()->disconnect(this);
    }
}

HexWindow* HexWindow::openFileWindow(const QString& fileName, QWidget* messageParent)
{
    auto* window = new HexWindow; // deletes itself on close
    QString error;
    if (!window->openFile(fileName, &error)) {
        delete window;
        QMessageBox::warning(messageParent, tr("打开文件"),
                             tr("无法打开文件 %1:\n%2").arg(fileName, error));
        return nullptr;
    }
    window->show();
    return window;
}

void HexWindow::setDocument(QHexDocument* document)
{
    m_findbar->cancel();
    document->setParent(m_view);
    m_view->setDocument(document);
    m_filename.clear();
    m_readonly = false;
    m_view->setReadOnly(false);
    attachDocument();
}

bool HexWindow::openFile(const QString& fileName, QString* errorOut)
{
    auto* file = new QFile(fileName); // the buffer takes it over
    if (QFileInfo(fileName).isDir() || !file->exists()) {
        if (errorOut != nullptr)
            *errorOut = QFileInfo(fileName).isDir() ? tr("这是一个文件夹") : tr("文件不存在");
        delete file;
        return false;
    }
    if (!file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly)
        && !file->open(QIODevice::ReadOnly)) {
        if (errorOut != nullptr)
            *errorOut = file->errorString();
        delete file;
        return false;
    }
    auto* buffer = new QFileBuffer; // the document takes it over
    buffer->load(file);
    buffer->setEditable(buffer->isFileWritable());

    m_findbar->cancel();
    m_view->setDocument(new QHexDocument(buffer, m_view));
    m_filename = QFileInfo(fileName).absoluteFilePath();
    m_readonly = !buffer->isFileWritable();
    m_view->setReadOnly(m_readonly);
    attachDocument();
    return true;
}

void HexWindow::attachDocument()
{
    if (m_attached != nullptr) { // the view deletes it later
        m_attached->disconnect(this);
        m_attached->cursor()->disconnect(this);
    }
    QHexDocument* document = m_view->document();
    m_attached = document;
    connect(document, &QHexDocument::documentChanged, this, [this] {
        updateTitle();
        updateStatus();
    });
    connect(document, &QHexDocument::canUndoChanged, this, &HexWindow::updateActions);
    connect(document, &QHexDocument::canRedoChanged, this, &HexWindow::updateActions);
    connect(document->cursor(), &QHexCursor::positionChanged, this, &HexWindow::updateStatus);
    connect(document->cursor(), &QHexCursor::insertionModeChanged, this, &HexWindow::updateStatus);
    const int width = document->bytesPerLine();
    for (QAction* action : m_widths->actions())
        action->setChecked(action->data().toInt() == width);
    updateTitle();
    updateActions();
    updateStatus();
}

void HexWindow::createActions()
{
    QMenu* file = menuBar()->addMenu(tr("文件"));
    QAction* open = file->addAction(tr("打开文件..."), this, &HexWindow::openFileDialog);
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    m_save = file->addAction(tr("保存"), this, &HexWindow::save);
    m_save->setObjectName(QStringLiteral("actionSave"));
    m_save->setShortcut(QKeySequence::Save);
    QAction* saveAs = file->addAction(tr("另存为..."), this, &HexWindow::saveAs);
    saveAs->setObjectName(QStringLiteral("actionSaveAs"));
    saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator();
    QAction* close = file->addAction(tr("关闭"), this, &QWidget::close);
    close->setObjectName(QStringLiteral("actionClose"));
    close->setShortcut(QKeySequence::Close);

    QMenu* edit = menuBar()->addMenu(tr("编辑"));
    m_undo = edit->addAction(tr("撤销"), this, &HexWindow::undo);
    m_undo->setObjectName(QStringLiteral("actionUndo"));
    m_undo->setShortcut(QKeySequence::Undo);
    m_redo = edit->addAction(tr("重做"), this, &HexWindow::redo);
    m_redo->setObjectName(QStringLiteral("actionRedo"));
    m_redo->setShortcuts(QKeySequence::Redo);
    edit->addSeparator();
    m_cut = edit->addAction(tr("剪切"), this, &HexWindow::cut);
    m_cut->setObjectName(QStringLiteral("actionCut"));
    m_cut->setShortcuts(QKeySequence::Cut);
    QAction* copy = edit->addAction(tr("复制"), this, [this] { this->copy(false); });
    copy->setObjectName(QStringLiteral("actionCopy"));
    copy->setShortcuts(QKeySequence::Copy);
    QAction* copyHex = edit->addAction(tr("复制为十六进制"), this, [this] { this->copy(true); });
    copyHex->setObjectName(QStringLiteral("actionCopyHex"));
    copyHex->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    m_paste = edit->addAction(tr("粘贴"), this, &HexWindow::paste);
    m_paste->setObjectName(QStringLiteral("actionPaste"));
    m_paste->setShortcuts(QKeySequence::Paste);
    QAction* all = edit->addAction(tr("全选"), this, &HexWindow::selectAll);
    all->setObjectName(QStringLiteral("actionSelectAll"));
    all->setShortcut(QKeySequence::SelectAll);
    edit->addSeparator();
    QAction* find = edit->addAction(tr("查找..."), this, [this] {
        m_findtoolbar->show();
        m_findbar->activate();
    });
    find->setObjectName(QStringLiteral("actionFind"));
    find->setShortcut(QKeySequence::Find);
    QAction* next = edit->addAction(tr("查找下一个"), this, [this] { findAgain(true); });
    next->setObjectName(QStringLiteral("actionFindNext"));
    next->setShortcut(QKeySequence(Qt::Key_F3));
    QAction* previous = edit->addAction(tr("查找上一个"), this, [this] { findAgain(false); });
    previous->setObjectName(QStringLiteral("actionFindPrevious"));
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    QAction* goTo = edit->addAction(tr("转到偏移..."), this, &HexWindow::askGoToOffset);
    goTo->setObjectName(QStringLiteral("actionGoTo"));
    goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));

    QMenu* view = menuBar()->addMenu(tr("查看"));
    m_widths = new QActionGroup(this);
    for (const int width : { 8, 16, 32 }) {
        QAction* action = view->addAction(tr("每行 %1 字节").arg(width), this,
                                          [this, width] { setBytesPerLine(width); });
        action->setObjectName(QStringLiteral("actionBytesPerLine%1").arg(width));
        action->setCheckable(true);
        action->setData(width);
        m_widths->addAction(action);
    }
    view->addSeparator();
    QAction* zoomIn = view->addAction(tr("放大字体"), this, [this] { zoom(1); });
    zoomIn->setObjectName(QStringLiteral("actionZoomIn"));
    zoomIn->setShortcuts({ QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal) });
    QAction* zoomOut = view->addAction(tr("缩小字体"), this, [this] { zoom(-1); });
    zoomOut->setObjectName(QStringLiteral("actionZoomOut"));
    zoomOut->setShortcut(QKeySequence::ZoomOut);
}

void HexWindow::findAgain(bool forward)
{
    m_findtoolbar->show();
    if (m_findbar->patternEdit()->text().isEmpty()) {
        m_findbar->activate(); // nothing to look for yet
        return;
    }
    if (forward)
        m_findbar->findNext();
    else
        m_findbar->findPrevious();
}

void HexWindow::updateTitle()
{
    if (m_filename.isEmpty() && !m_untitled.isEmpty()) {
        setWindowTitle(QStringLiteral("%1[*] - %2").arg(m_untitled, appTitle()));
    } else if (m_filename.isEmpty()) {
        setWindowTitle(appTitle() + QStringLiteral("[*]"));
    } else {
        const QString name = QFileInfo(m_filename).fileName();
        const QString readOnly = m_readonly ? tr(" [只读]") : QString();
        setWindowTitle(QStringLiteral("%1[*]%2 - %3").arg(name, readOnly, appTitle()));
    }
    setWindowModified(m_view->document()->isModified());
}

void HexWindow::setUntitledName(const QString& name)
{
    m_untitled = name;
    updateTitle();
}

void HexWindow::updateActions()
{
    QHexDocument* document = m_view->document();
    m_undo->setEnabled(!m_readonly && document->canUndo());
    m_redo->setEnabled(!m_readonly && document->canRedo());
    m_cut->setEnabled(!m_readonly);
    m_paste->setEnabled(!m_readonly);
    m_save->setEnabled(!m_readonly || m_filename.isEmpty());
}

void HexWindow::updateStatus()
{
    m_statusbar->showState(m_view->document(), m_readonly);
}

// The Edit menu works on the document itself, as the view's keys do; a key
// sent to the view would come back here through the window's shortcuts.
void HexWindow::undo()
{
    if (!m_readonly)
        m_view->document()->undo();
}

void HexWindow::redo()
{
    if (!m_readonly)
        m_view->document()->redo();
}

void HexWindow::cut()
{
    // The column that has the caret decides between hex text and bytes.
    const bool hex = caretInHexColumn(*m_view);
    if (m_readonly || !fitsClipboard(hex, m_cut->text()))
        return;
    runOrReportMemory(this, m_cut->text(), [this, hex] { m_view->document()->cut(hex); });
}

void HexWindow::copy(bool hex)
{
    const bool asHex = hex || caretInHexColumn(*m_view);
    const QString title = hex ? tr("复制为十六进制") : tr("复制");
    // Copying changes nothing, so a read-only window copies too.
    if (!fitsClipboard(asHex, title))
        return;
    runOrReportMemory(this, title, [this, asHex] { m_view->document()->copy(asHex); });
}

void HexWindow::paste()
{
    if (m_readonly)
        return;
    const bool hex = caretInHexColumn(*m_view);
    runOrReportMemory(this, m_paste->text(),
                      [this, hex] { pasteOverSelection(*m_view->document(), hex); });
}

bool HexWindow::fitsClipboard(bool hex, const QString& title)
{
    const QHexCursor* cursor = m_view->document()->cursor();
    if (!cursor->hasSelection())
        return true;
    const qint64 length = selectionSpan(*cursor);
    const HexClipboardLimit limit = HexClipboardLimit::current();
    if (limit.allows(length, hex))
        return true;
    QMessageBox::warning(this, title,
                         tr("选中的 %1 MiB 太多，剪贴板放不下: 现在最多可复制 %2 MiB。\n"
                            "请用“文件 > 另存为...”把数据保存到文件。")
                                 .arg(mebibytes(length), mebibytes(limit.maximumBytes(hex))));
    return false;
}

void HexWindow::selectAll()
{
    QHexDocument* document = m_view->document();
    QHexCursor* cursor = document->cursor();
    cursor->moveTo(0, 0, 1);
    const qint64 length = document->length();
    if (length <= 0)
        return;
    const qint64 last = length - 1;
    const int bpl = qMax(1, int(document->bytesPerLine()));
    // The second digit of the last byte, so that a lone byte counts as
    // selected too.
    cursor->select(static_cast<quint64>(last / bpl), static_cast<int>(last % bpl),
                   length == 1 ? 0 : 1);
}

bool HexWindow::goToOffset(const QString& text, QString* errorOut)
{
    QHexDocument* document = m_view->document();
    QHexCursor* cursor = document->cursor();
    const qint64 length = document->length();
    const HexOffsetEntry entry = HexOffsetEntry::parse(text, cursor->position().offset(), length);
    QString error;
    switch (entry.error) {
    case HexOffsetEntry::None:
        document->endTyping();
        cursor->moveTo(entry.offset);
        return true;
    case HexOffsetEntry::Malformed:
        error = tr("\"%1\" 不是有效的偏移: 请输入十六进制 (0x1F40)、十进制 (8000) "
                   "或相对偏移 (+100, -0x10)")
                        .arg(text);
        break;
    case HexOffsetEntry::OutOfRange:
        error = tr("偏移超出范围: 有效范围为 0 到 %1 (0x%2)")
                        .arg(length)
                        .arg(QString::number(length, 16).toUpper());
        break;
    }
    if (errorOut != nullptr)
        *errorOut = error;
    return false;
}

void HexWindow::askGoToOffset()
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, tr("转到偏移"),
                                               tr("偏移 (0x 十六进制、十进制, 或 +/- 相对):"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    QString error;
    if (!goToOffset(text, &error))
        QMessageBox::warning(this, tr("转到偏移"), error);
}

void HexWindow::openFileDialog()
{
    const QString fileName = QFileDialog::getOpenFileName(this, tr("打开文件"));
    if (!fileName.isEmpty())
        openFileWindow(fileName, this);
}

bool HexWindow::saveFile(const QString& fileName)
{
    m_findbar->cancel();
    QProgressDialog progress(tr("正在保存 %1...").arg(QFileInfo(fileName).fileName()), tr("取消"),
                             0, kProgressSteps, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    HexFileSaver saver(m_view->document());
    const bool saved = saver.save(fileName, [&progress](qint64 done, qint64 total) {
        progress.setValue(static_cast<int>(done * kProgressSteps / qMax<qint64>(1, total)));
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    if (!saved) {
        if (!saver.wasCancelled())
            QMessageBox::warning(
                    this, tr("保存失败"),
                    tr("无法保存 %1:\n%2\n原文件未被改动。").arg(fileName, saver.errorString()));
        return false;
    }
    m_filename = QFileInfo(fileName).absoluteFilePath();
    auto* buffer = qobject_cast<QFileBuffer*>(m_view->document()->buffer());
    if (buffer != nullptr && m_readonly == buffer->isFileWritable()) {
        // Saved elsewhere: the window follows what the new file allows.
        buffer->setEditable(buffer->isFileWritable());
        m_readonly = !buffer->isFileWritable();
        m_view->setReadOnly(m_readonly);
    }
    updateTitle();
    updateActions();
    updateStatus();
    m_view->viewport()->update();
    return true;
}

bool HexWindow::save()
{
    if (m_filename.isEmpty() || m_readonly)
        return saveAs();
    return saveFile(m_filename);
}

bool HexWindow::saveAs()
{
    const QString fileName = QFileDialog::getSaveFileName(this, tr("另存为"), m_filename);
    return !fileName.isEmpty() && saveFile(fileName);
}

void HexWindow::setBytesPerLine(int bytes)
{
    QHexDocument* document = m_view->document();
    if (bytes < 1 || bytes > 255 || bytes == document->bytesPerLine())
        return;
    // Positions count lines of the old width; the caret keeps its byte.
    const qint64 offset = document->cursor()->position().offset();
    document->setBytesPerLine(static_cast<quint8>(bytes));
    document->cursor()->moveTo(offset);
    for (QAction* action : m_widths->actions())
        action->setChecked(action->data().toInt() == bytes);
    m_view->adjustScrollBars();
    m_view->viewport()->update();
}

void HexWindow::zoom(int points)
{
    QFont font = m_view->font();
    font.setPointSize(qMax(kMinimumPointSize, font.pointSize() + points));
    m_view->setFont(font);
}

void HexWindow::closeEvent(QCloseEvent* e)
{
    m_findbar->cancel();
    if (m_discarded || !m_view->document()->isModified()) {
        e->accept();
        return;
    }
    const QMessageBox::StandardButton answer = askToKeepEdits();
    if (answer == QMessageBox::Cancel) {
        e->ignore();
        return;
    }
    // Asking again, with the deletion of this window already posted, would
    // run that deletion under the box's own event loop.
    m_discarded = answer == QMessageBox::Discard;
    e->accept();
}

QMessageBox::StandardButton HexWindow::askToKeepEdits()
{
    if (!m_view->document()->isModified())
        return QMessageBox::Discard;
    // Bytes without a file of their own are kept only by saving them as one.
    const bool payload = m_filename.isEmpty();
    const QString question = payload
            ? tr("数据已修改，尚未保存到文件。\n是否另存为文件?")
            : tr("文件 %1 已修改。\n是否保存修改?").arg(QFileInfo(m_filename).fileName());
    QMessageBox box(QMessageBox::Question, appTitle(), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    if (payload)
        box.button(QMessageBox::Save)->setText(tr("另存为..."));
    const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
    if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !save()))
        return QMessageBox::Cancel;
    return answer;
}

void HexWindow::showEvent(QShowEvent* e)
{
    m_discarded = false;
    // Before the window system maps it: at the size it will keep.
    if (!m_fitted) {
        m_fitted = true;
        fitIntoScreen(*this);
    }
    QMainWindow::showEvent(e);
}
