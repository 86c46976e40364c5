// SPDX-License-Identifier: GPL-2.0-or-later

#include "mainwindow.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include <pcap/pcap.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidgetItem>
#include <QTextStream>
#include <QTimer>

#include "anchorlayout.h"
#include "appsettings.h"
#include "captureanalysis.h"
#include "capturefile.h"
#include "captureintake.h"
#include "capturemessages.h"
#include "capturestore.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "followstream.h"
#include "followtls.h"
#include "hexwindow.h"
#include "listnotice.h"
#include "markscolumn.h"
#include "packetfindbar.h"
#include "packetrecord.h"
#include "packetrows.h"
#include "pcapfilter.h"
#include "popupwidth.h"
#include "qhexdocument.h"
#include "qmemorybuffer.h"
#include "remotesources.h"
#include "resourcefloors.h"
#include "shownrows.h"
#include "sshcapturesource.h"
#include "tlsdecryption.h"
#include "ui_mainwindow.h"
#include "unsavedrows.h"
#include "windowplacement.h"

QStringList g_adapter_names;
CUpdate* g_capture_thread = nullptr;

// Registers the theme bundles compiled into this library. Outside any
// namespace, as Q_INIT_RESOURCE requires; registering twice is harmless.
static void init_theme_resources()
{
    Q_INIT_RESOURCE(qdarkstyle_dark);
    Q_INIT_RESOURCE(qdarkstyle_light);
}

namespace {

Q_LOGGING_CATEGORY(lcApp, "tarnlook.app")

constexpr int kFormMargin = 10; // around the form's widgets, in pixels
constexpr int kDarkTheme = 1;
constexpr int kLightTheme = 2;
constexpr int kHexColumn = 7;
constexpr int kProgressIntervalMs = 250;
// How long the status bar says that a save is done.
constexpr int kSavedNoticeMs = 30000;
// How long closing waits for a stopped capture to hand over its last rows.
constexpr int kStopWaitMs = 3000;
// The share of extra window height that goes to the packet table; the
// payload views below it take the rest.
constexpr qreal kTableHeightShare = 0.6;
const QString kFileScheme = QStringLiteral("file://");

// Every capture object not yet released, the running ones among them; the
// window joins them when it is destroyed.
std::vector<QPointer<CUpdate>>& live_captures()
{
    static std::vector<QPointer<CUpdate>> captures;
    return captures;
}

// The controls of the capturing state (or of idle and stopped, which look
// alike but for the title).
void show_capturing(Ui::MainWindow& ui, bool capturing)
{
    ui.pushButton_7->setEnabled(capturing);
    ui.pushButton_2->setEnabled(!capturing);
    ui.comboBox->setEnabled(!capturing);
    ui.actionOpen->setEnabled(!capturing);
}

QString capture_file_filter()
{
    return MainWindow::tr("捕获文件 (*.pcap *.pcapng *.cap *.dmp);;所有文件 (*)");
}

// Keeps a word-wrapped label as high as its lines need at the width it is
// given; a child of the label.
class LinesFollowWidth : public QObject
{
public:
    explicit LinesFollowWidth(QLabel* label)
        : QObject(label)
        , m_label(label)
    {
        // One line until it has a width: a word-wrapped label's own hint is
        // several lines high, whatever room it gets.
        label->setFixedHeight(label->fontMetrics().height() + 2 * label->margin());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && m_label->width() > 0) {
            const int lines = m_label->heightForWidth(m_label->width());
            if (lines > 0 && lines != m_label->height())
                m_label->setFixedHeight(lines);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QLabel* m_label;
};

// Closing the main window closes every hex window first, those over files
// too (parentless, opened from a hex window's File menu): one whose user
// keeps unsaved changes (Cancel) keeps the main window, and the program,
// running. Only then is the window itself asked (may_close), which may ask
// about unsaved rows and keep the window open too; nothing asks after that.
class WindowCloser : public QObject
{
public:
    WindowCloser(QObject* parent, std::function<bool()> may_close)
        : QObject(parent)
        , m_may_close(std::move(may_close))
    { }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            // Guarded: a window's question runs an event loop, which
            // deletes the windows whose deletion was pending (closed ones).
            QList<QPointer<HexWindow>> hex_windows;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* hex = qobject_cast<HexWindow*>(widget))
                    hex_windows.append(hex);
            for (const QPointer<HexWindow>& hex : std::as_const(hex_windows)) {
                if (hex != nullptr && hex->isVisible() && !hex->close()) {
                    event->ignore();
                    return true;
                }
            }
            if (!m_may_close()) {
                event->ignore();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> m_may_close;
};

// Lays the form out so that the window can be resized: at the form's own
// size (its widgets and a margin below the lowest) every widget is where the
// form puts it; the adapter list grows with the width, the buttons beside it
// keep to the right edge, the packet table and the payload views below it
// take the extra width and height, and the buttons and labels under the
// views follow their views.
void lay_out_form(QMainWindow& window, Ui::MainWindow& ui)
{
    int bottom = 0;
    for (const QWidget* widget :
         ui.centralwidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        bottom = std::max(bottom, widget->geometry().bottom() + 1);
    auto* layout = new AnchorLayout(ui.centralwidget, QSize(window.width(), bottom + kFormMargin));
    using Shares = AnchorLayout::Shares;
    const Shares fixed { 0, 0, 0, 0 };
    const Shares right { 1, 1, 0, 0 };
    const Shares underLeftView { 0, 0, 1, 1 };
    const Shares underMiddle { 0.5, 0.5, 1, 1 };
    const Shares underRightView { 1, 1, 1, 1 };
    layout->addWidget(ui.label, fixed);
    layout->addWidget(ui.comboBox, { 0, 1, 0, 0 });
    for (QWidget* button :
         { ui.pushButton_2, ui.pushButton_7, ui.pushButton_3, ui.pushButton, ui.pushButton_10 })
        layout->addWidget(button, right);
    layout->addWidget(ui.tableWidget_2, { 0, 1, 0, kTableHeightShare });
    layout->addWidget(ui.textEdit, { 0, 0.5, kTableHeightShare, 1 });
    layout->addWidget(ui.textEdit_2, { 0.5, 1, kTableHeightShare, 1 });
    layout->addWidget(ui.pushButton_4, underLeftView);
    layout->addWidget(ui.pushButton_5, underLeftView);
    layout->addWidget(ui.label_3, underMiddle); // at the left view's right edge
    layout->addWidget(ui.pushButton_9, underMiddle);
    layout->addWidget(ui.pushButton_8, underRightView);
    layout->addWidget(ui.label_2, underRightView);
    // How small they may get: a usable list, table and views on a screen of
    // 1024 x 600. Set here rather than taken from their contents, so that
    // the window's least size stays the same as rows come and go.
    ui.comboBox->setMinimumWidth(200);
    // Long adapter descriptions whole in the list, the chosen one in the
    // box's tooltip.
    fitPopupToEntries(*ui.comboBox);
    QObject::connect(ui.comboBox, &QComboBox::currentTextChanged, ui.comboBox,
                     [box = ui.comboBox](const QString& text) { box->setToolTip(text); });
    ui.tableWidget_2->setMinimumSize(300, 150);
    ui.textEdit->setMinimumSize(150, 80);
    ui.textEdit_2->setMinimumSize(150, 80);
    // The window's least size now, before it has a native window that would
    // have to be told of it.
    window.ensurePolished();
    window.layout()->activate();
}

QString ask_save_path(QWidget* parent)
{
    return QFileDialog::getSaveFileName(parent, MainWindow::tr("保存捕获文件"), QString(),
                                        capture_file_filter());
}

// After a start that captured nothing (the adapter could not be opened):
// back to idle, not to stopped, unless a later start is in charge.
void show_not_started(QMainWindow& window, Ui::MainWindow& ui, const CUpdate* capture)
{
    if (g_capture_thread != capture)
        return;
    g_capture_thread = nullptr;
    show_capturing(ui, false);
    window.setWindowTitle(MainWindow::tr("Tarnlook -- 网卡流量捕获"));
}

// Fills the adapter list and g_adapter_names in step, so that entry i of the
// names is item i of the list. Returns false, with libpcap's reason, when the
// adapters cannot be listed.
[[nodiscard]] bool list_adapters(QComboBox& combo, QString* reason)
{
    g_adapter_names.clear();
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* adapters = nullptr;
    if (pcap_findalldevs(&adapters, errbuf) == PCAP_ERROR) {
        *reason = QString::fromLocal8Bit(errbuf);
        return false;
    }
    int count = 0;
    for (const pcap_if_t* adapter = adapters; adapter != nullptr; adapter = adapter->next) {
        const QString name = QString::fromUtf8(adapter->name);
        qCDebug(lcApp).noquote() << "ID:" << ++count << "--->" << name;
        // Most adapters on Linux have no description; their name is what the
        // user knows them by.
        const bool described = adapter->description != nullptr && *adapter->description != '\0';
        combo.addItem(described ? QString::fromUtf8(adapter->description) : name);
        g_adapter_names.append(name);
    }
    pcap_freealldevs(adapters);
    return true;
}

// The bytes a hex text stands for: one per pair of characters, as
// hex_to_bytes reads them; a last odd character is ignored.
QByteArray decode_hex_text(const QString& hex)
{
    const std::string text = hex.toStdString(); // UTF-8
    // Two spare zero bytes after the pairs, as hex_to_bytes' callers give it.
    QByteArray area(static_cast<int>(text.size() / 2) + 2, '\0');
    hex_to_bytes(text, reinterpret_cast<unsigned char*>(area.data()));
    area.truncate(static_cast<int>(text.size() / 2));
    return area;
}

// The payload's text as the text pane shows it: every byte, a control
// character other than tab and line breaks as '.', as the hex window's text
// column shows it, so that a zero byte neither ends the text nor hides.
// Decoded with the sizes given: Qt 5 reads a QByteArray as text only up to
// its first zero byte.
enum class Encoding { Utf8, Local8Bit };
QString payload_text(const QByteArray& bytes, Encoding encoding)
{
    QString text = encoding == Encoding::Utf8
            ? QString::fromUtf8(bytes.constData(), bytes.size())
            : QString::fromLocal8Bit(bytes.constData(), bytes.size());
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7F)
            c = QLatin1Char('.');
    }
    return text;
}

// A remembered capture filter that libpcap no longer takes was left off at
// start: said in the status bar, where it does not stop the user, while the
// filter form shows the reason beside the expression.
void tell_refused_capture_filter(QMainWindow& window, const QString& expression)
{
    const std::optional<QString> reason = capture_filter_error(expression);
    QString text = MainWindow::tr("上次的捕获过滤表达式已无法使用,已关闭: %1").arg(expression);
    if (reason)
        text += QStringLiteral(" (") + *reason + QLatin1Char(')');
    window.statusBar()->showMessage(text);
}

QString length_text(int length)
{
    return MainWindow::tr("长度:") + QString::number(length);
}

// After "清空": nothing of the rows that went is shown any more. The title
// is the window's own again unless a capture runs (its title names no row),
// the payload views are as at the start.
void show_emptied(QMainWindow& window, Ui::MainWindow& ui)
{
    if (g_capture_thread == nullptr)
        window.setWindowTitle(MainWindow::tr("Tarnlook -- 网卡流量捕获"));
    ui.textEdit->setPlainText(MainWindow::tr("默认显示UTF8数据"));
    ui.textEdit_2->setPlainText(QStringLiteral("16"));
    ui.label_2->setText(MainWindow::tr("长度:"));
    ui.label_3->setText(MainWindow::tr("长度:"));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // What an earlier run that crashed left behind goes now.
    CaptureStore::remove_stale_folders();
    m_store = std::make_unique<CaptureStore>();
    m_rows = new PacketRows(ui->tableWidget_2, m_store->isValid() ? m_store.get() : nullptr);
    m_unsaved = std::make_unique<UnsavedRows>();
    auto* settings = new AppSettings(this); // a child of this window
    m_settings = settings;
    if (settings->dark_theme()) {
        load_theme(kDarkTheme);
        ui->pushButton_9->setText(tr("亮色主题"));
    } else {
        load_theme(kLightTheme);
    }
    setWindowTitle(tr("Tarnlook -- 网卡流量捕获"));
    installEventFilter(new WindowCloser(this, [this] {
        if (!settle_unsaved_rows(UnsavedRowsLoss::Closing))
            return false;
        // While it is still shown: a window closed by the window manager has
        // lost its native window by the time it is destroyed.
        save_placement(*this, *ui->tableWidget_2->horizontalHeader(), *m_settings);
        return true;
    }));
    // A window of its own, owned by this one: closing this window ends the
    // program even while the form is open.
    delete g_filter_form;
    g_filter_form = new FitWid(this);
    g_filter_form->setWindowFlag(Qt::Window);
    g_filter_form->hide();
    const std::optional<QString> refused_filter = settings->attach(*g_filter_form);
    // In the window's bottom tool bar area, as in the hex window.
    m_find = new PacketFindBar(ui->tableWidget_2, *m_rows,
                               m_store->isValid() ? m_store.get() : nullptr, this);
    connect(m_find, &PacketFindBar::found, this, [this](int row) {
        on_tableWidget_2_itemClicked(ui->tableWidget_2->item(row, kHexColumn));
    });
    m_shown = new ShownRows(ui->tableWidget_2, *m_rows, this);
    m_analysis = new CaptureAnalysis(*this, *ui->tableWidget_2, *m_rows,
                                     m_store->isValid() ? m_store.get() : nullptr, *m_shown,
                                     [this](int row) { follow_tcp_stream(row); });
    m_find->set_remarks([this](int row) { return MarksColumn::text(m_analysis->marks(row)); });
    auto* marked_only = g_filter_form->findChild<QCheckBox*>(QStringLiteral("markedRowsOnly"));
    if (auto* apply = g_filter_form->findChild<QPushButton*>(QStringLiteral("applyToShownRows")))
        connect(apply, &QPushButton::clicked, m_shown, [this, marked_only] {
            std::function<bool(int)> keep;
            if (marked_only != nullptr && marked_only->isChecked())
                keep = [this](int row) { return m_analysis->marks(row) != 0; };
            m_shown->narrow(g_filter_settings, keep);
        });
    follow_lists_in_force(*this, *m_shown, [this] { on_pushButton_3_clicked(); });
    lay_out_form(*this, *ui);
    restore_placement(*this, *ui->tableWidget_2->horizontalHeader(), *settings);
    if (refused_filter)
        tell_refused_capture_filter(*this, *refused_filter);
    if (!m_store->isValid())
        statusBar()->showMessage(tr("捕获的帧无处保存, 行的负载无法查看, 也无法保存到文件: %1")
                                         .arg(m_store->errorString()));
    ui->textEdit->setPlainText(tr("默认显示UTF8数据"));
    ui->textEdit_2->setPlainText(QStringLiteral("16"));
    // A payload is one long line without word breaks; looking for them
    // froze the window for seconds on a 64 KB payload.
    ui->textEdit->setWordWrapMode(QTextOption::WrapAnywhere);
    ui->textEdit_2->setWordWrapMode(QTextOption::WrapAnywhere);
    for (QTextEdit* view : { ui->textEdit, ui->textEdit_2 }) {
        // Laid out once: a scroll bar that came and went with the text made
        // the views lay a long payload out twice.
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // Hex digits and most payload text need no kerning or shaping;
        // skipping them halves the time a long payload takes to lay out.
        QFont font = view->font();
        font.setStyleStrategy(QFont::PreferNoShaping);
        font.setKerning(false);
        view->setFont(font);
    }

    connect(ui->actionOpen, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("打开捕获文件"), QString(),
                                                          capture_file_filter());
        if (!path.isEmpty())
            open_capture_file(path);
    });
    connect(ui->actionSave, &QAction::triggered, this, [this] {
        std::optional<bool> shown_only = false;
        if (m_shown->narrowed())
            shown_only = ask_to_save_shown_rows(this, m_shown->shown(), m_shown->total());
        const QString path = shown_only ? ask_save_path(this) : QString();
        if (!path.isEmpty())
            save_capture_file(path, *shown_only);
    });
    connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
    add_follow_action(ui->tableWidget_2, this, [this](int row) { follow_tcp_stream(row); });
    add_follow_tls_action(ui->tableWidget_2, this, [this](int row) { follow_tls_stream(row); });
    m_tls = new TlsDecryption(*this, *m_settings, *ui->actionTlsKeyLog);
    // A hex cell made current from the keyboard shows its payload as a click
    // does. A click makes its cell current on the press and shows it through
    // its own slot on the release: not twice.
    connect(ui->tableWidget_2, &QTableWidget::currentCellChanged, this,
            [this](int row, int column) {
                if (column != kHexColumn || QApplication::mouseButtons() != Qt::NoButton)
                    return;
                if (QTableWidgetItem* item = ui->tableWidget_2->item(row, column))
                    on_tableWidget_2_itemClicked(item);
            });

    QString reason;
    if (!list_adapters(*ui->comboBox, &reason)) {
        QMessageBox::information(parent, tr("err"),
                                 tr("获取网卡设备失败  请确认已经安装tarnlook软件包, "
                                    "并用 sudo usermod -aG tarnlook $USER "
                                    "把当前用户加入tarnlook组, 然后重新登录。见README")
                                         + QLatin1Char('\n') + reason);
        m_store.reset(); // std::exit runs no member's destructor
        std::exit(1);
    }
    ui->pushButton_7->setEnabled(false);

    m_remote = new RemoteSources(*ui->comboBox, *settings, this);
    // Each choice is remembered as it is made: a crash loses none of them.
    const int last = g_adapter_names.indexOf(settings->adapter());
    if (last >= 0 && !settings->adapter().isEmpty())
        ui->comboBox->setCurrentIndex(last);
    connect(ui->comboBox, qOverload<int>(&QComboBox::activated), settings, [settings](int index) {
        if (index >= 0 && index < g_adapter_names.size() && !g_adapter_names.at(index).isEmpty())
            settings->set_adapter(g_adapter_names.at(index));
    });
    // After the button's own slot, which switched the theme and its text.
    connect(ui->pushButton_9, &QPushButton::clicked, settings, [this, settings] {
        settings->set_dark_theme(ui->pushButton_9->text() != tr("黑色主题"));
    });
}

MainWindow::~MainWindow()
{
    // Still shown when a quit signal ended the program.
    save_placement(*this, *ui->tableWidget_2->horizontalHeader(), *m_settings);
    g_capture_thread = nullptr;
    for (const QPointer<CUpdate>& capture : std::as_const(live_captures()))
        delete capture.data(); // stops and joins a running capture
    live_captures().clear();
    // Stream windows, deleted after the store, read it on threads of theirs.
    end_stream_follows(m_store.get());
    // The store's files go on a thread of their own while the rows go here.
    m_store->clear(CaptureStore::Removal::Now);
    if (m_ends_with_process) {
        // Out of the window, hidden, and never deleted: it holds nothing
        // that must be undone.
        static QTableWidget* left_to_process_end = nullptr;
        left_to_process_end = ui->tableWidget_2;
        left_to_process_end->hide();
        left_to_process_end->setParent(nullptr);
    } else {
        // The process ends with the heap, or reuses it: no use giving its
        // pages back first.
        m_rows->clear(PacketRows::HeapPages::Keep);
    }
    delete g_filter_form;
    g_filter_form = nullptr;
    delete ui;
}

void MainWindow::end_with_process()
{
    m_ends_with_process = true;
}

void MainWindow::show_notice(const QString& text)
{
    // A widget of the bar, not a message: hovering a menu entry does not
    // wipe it out for good. Wrapped where the window is too narrow for it
    // (the bar grows a line), whole in the tooltip too.
    auto* notice = new QLabel(text, statusBar());
    notice->setObjectName(QStringLiteral("notice"));
    notice->setToolTip(text);
    notice->setWordWrap(true);
    notice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // As wide as the bar gives it, as high as its lines need there: the
    // bar's layout asks for no height for a width of its own.
    notice->installEventFilter(new LinesFollowWidth(notice));
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(notice, 1);
}

void MainWindow::load_theme(int theme)
{
    // A program linking this library as a static one gets the resources only
    // through this call; once is enough.
    static const bool registered = (init_theme_resources(), true);
    Q_UNUSED(registered)

    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return;
    QFile file(theme == kDarkTheme ? QStringLiteral(":/qdarkstyle/dark/style.qss")
                                   : QStringLiteral(":/qdarkstyle/light/style.qss"));
    // Without its sheet the theme falls back to the platform's own look.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCWarning(lcApp).noquote()
                << "Theme not found:" << file.fileName() << "- using the platform's own look";
        // A sheet without rules rather than none: Qt 5.15 keeps dangling
        // widget pointers when a sheet is removed and another one set later.
        app->setStyleSheet(QStringLiteral("/* the platform's own look */"));
        return;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    app->setStyleSheet(stream.readAll());
}

void MainWindow::on_pushButton_2_clicked()
{
    int index = ui->comboBox->currentIndex();
    if (index < 0 || index >= g_adapter_names.size())
        return; // no adapter to capture on
    // "远程抓包...": where, first.
    if (g_adapter_names.at(index).isEmpty()) {
        if (!m_remote->ask(this))
            return;
        index = ui->comboBox->currentIndex();
    }

    const QString& adapter = g_adapter_names.at(index);
    qCDebug(lcApp).noquote() << adapter;
    launch_capture(adapter, tr("正在侦听网卡->") + ui->comboBox->currentText());
}

CUpdate* MainWindow::launch_capture(const QString& source, const QString& title,
                                    const std::function<void(CUpdate*)>& prepare)
{
    show_capturing(*ui, true);
    setWindowTitle(title);

    // Parentless: released by deleteLater once finished, or by ~MainWindow.
    auto* capture = new CUpdate(g_filter_settings);
    g_capture_thread = capture;
    auto& captures = live_captures();
    captures.erase(std::remove(captures.begin(), captures.end(), nullptr), captures.end());
    captures.emplace_back(capture);

    if (m_store->isValid())
        capture->store = m_store.get();
    capture->floors = g_resource_floors;
    // The rows come in batches, taken in slices of bounded time.
    auto* intake
            = new CaptureIntake(capture, *m_rows, m_store->isValid() ? m_store.get() : nullptr);
    const bool from_file = source.startsWith(kFileScheme);
    intake->set_rows_taken([this, from_file](int rows) {
        if (!from_file)
            m_unsaved->captured(rows);
    });
    connect(capture, &CUpdate::open_failed, this, [this, capture](const QString& reason) {
        show_not_started(*this, *ui, capture);
        // A remote source says itself what failed there; the adapter's own
        // failure keeps the window's first box, "err".
        if (capture->adapter_name.startsWith(SshCaptureSource::kScheme))
            show_plain_warning(this, tr("远程抓包"), reason);
        else
            show_plain_warning(this, tr("err"), tr("open pcap fail") + QLatin1Char('\n') + reason);
    });
    connect(capture, &CUpdate::open_denied, this, [this, capture](const QString& reason) {
        show_not_started(*this, *ui, capture);
        QMessageBox::warning(this, tr("err"),
                             tr("没有捕获网卡的权限。请安装tarnlook软件包, "
                                "用 sudo usermod -aG tarnlook $USER 把当前用户加入tarnlook组, "
                                "然后重新登录。")
                                     + QLatin1Char('\n') + reason);
    });
    connect(capture, &CUpdate::capture_failed, this, &MainWindow::report_failure);
    // A capture that ends by itself (read error, end of a capture file) puts
    // the window back in the stopped state, as the stop button would, once
    // its last rows are in the table.
    connect(intake, &CaptureIntake::finished, this, [this, capture] {
        if (g_capture_thread != capture)
            return;
        g_capture_thread = nullptr;
        show_stopped_state(capture->dropped, capture->rows_dropped.load(),
                           capture->lines_refused.load());
    });
    connect(intake, &CaptureIntake::finished, capture, &QObject::deleteLater);

    capture->adapter_name = source;
    if (prepare)
        prepare(capture);
    capture->start(QThread::InheritPriority);
    return capture;
}

void MainWindow::show_stopped_state(std::uint64_t dropped, std::uint64_t rows_dropped,
                                    std::int64_t refused)
{
    show_capturing(*ui, false);
    QString title = tr("停止捕获");
    if (dropped > 0)
        title += tr(" (内核丢弃了 %1 个数据包)").arg(dropped);
    if (rows_dropped > 0)
        title += tr(" (表格来不及显示, 丢弃了 %1 行)").arg(rows_dropped);
    // Rows the lists kept out: not lost traffic, but not shown either.
    if (refused > 0)
        title += tr(" (过滤列表滤掉了 %1 行)").arg(refused);
    setWindowTitle(title);
}

void MainWindow::report_failure(int failure, const QString& detail)
{
    show_plain_warning(this, tr("抓包已停止"),
                       capture_failure_text(failure, detail, m_rows->count()));
}

bool MainWindow::select_adapter(const QString& name)
{
    if (name.startsWith(SshCaptureSource::kScheme))
        return m_remote->choose(name);
    int index = g_adapter_names.indexOf(name);
    if (index < 0)
        index = ui->comboBox->findText(name);
    if (index < 0)
        return false;
    ui->comboBox->setCurrentIndex(index);
    return true;
}

void MainWindow::start_capture()
{
    if (ui->pushButton_2->isEnabled())
        on_pushButton_2_clicked();
}

bool MainWindow::open_capture_file(const QString& path)
{
    if (g_capture_thread != nullptr) {
        QMessageBox::warning(this, tr("打开捕获文件"), tr("正在捕获,请先停止再打开文件。"));
        return false;
    }
    int link_type = 0;
    if (const std::optional<QString> problem = capture_file_problem(path, &link_type)) {
        show_plain_warning(this, tr("打开捕获文件"),
                           tr("打开文件失败: %1\n%2").arg(path, *problem));
        return false;
    }
    if (!link_type_supported(link_type)) {
        show_plain_warning(this, tr("打开捕获文件"),
                           tr("打开文件失败: %1\n不支持这个文件的链路类型: %2")
                                   .arg(path, link_type_text(link_type)));
        return false;
    }

    // The file takes the place of the rows: none of them is lost unasked.
    if (!settle_unsaved_rows(UnsavedRowsLoss::Opening))
        return false;
    on_pushButton_clicked();

    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString reading = tr("正在读取文件->") + name;
    const int first_row = m_rows->count();
    const double size = std::max<qint64>(1, info.size());
    // Connected before the capture starts: a small file is read before
    // launch_capture returns.
    launch_capture(kFileScheme + info.absoluteFilePath(), reading, [=](CUpdate* capture) {
        CaptureIntake* const intake = CaptureIntake::of(capture);
        // Progress in the title: rows read and how far into the file.
        auto* progress = new QTimer(this);
        progress->setInterval(kProgressIntervalMs);
        connect(progress, &QTimer::timeout, this, [this, capture, first_row, size, reading] {
            if (g_capture_thread != capture)
                return;
            const qint64 at = capture->file_position.load();
            const int percent = at < 0 ? 0 : static_cast<int>(100.0 * at / size);
            setWindowTitle(tr("%1 (%2 行, %3%)")
                                   .arg(reading)
                                   .arg(m_rows->count() - first_row)
                                   .arg(percent));
        });
        connect(intake, &CaptureIntake::finished, progress, &QObject::deleteLater);
        progress->start();
        // Once read, the title says how much of the file the filters let
        // through, so that a file that adds no rows says why. After the
        // stopped state is shown; skipped when the file could not be read at
        // all or a later capture is already in charge.
        connect(intake, &CaptureIntake::finished, this,
                [this, read = QPointer<CUpdate>(capture), first_row, name] {
                    const std::int64_t frames = read ? read->frames_read.load() : -1;
                    if (frames < 0 || g_capture_thread != nullptr)
                        return;
                    const int rows = std::max(0, m_rows->count() - first_row);
                    const std::int64_t refused = read->lines_refused.load();
                    setWindowTitle(
                            refused > 0
                                    ? tr("%1: %2 帧, 显示 %3 行, 过滤列表滤掉 %4 行")
                                              .arg(name)
                                              .arg(frames)
                                              .arg(rows)
                                              .arg(refused)
                                    : tr("%1: %2 帧, 显示 %3 行").arg(name).arg(frames).arg(rows));
                });
    });
    return true;
}

bool MainWindow::save_capture_file(const QString& path, bool shown_only)
{
    const std::uint64_t mark = m_unsaved->mark(); // rows arriving during the save are not in it
    shown_only = shown_only && m_shown->narrowed();
    std::vector<std::int64_t> frames;
    frames.reserve(static_cast<std::size_t>(m_rows->count()));
    std::size_t rows = 0;
    for (int row = 0; row < m_rows->count(); ++row) {
        if (shown_only && ui->tableWidget_2->isRowHidden(row))
            continue;
        ++rows;
        if (const std::optional<std::int64_t> frame = m_rows->frame(row))
            frames.push_back(*frame);
    }
    // Rows whose frames the store failed to keep: a file without them would
    // pass for the whole table. (Rows handed in without a capture have no
    // frame by design and are left out as before.)
    const std::size_t missing = rows - frames.size();
    if (missing > 0 && !m_store->errorString().isEmpty()) {
        show_plain_warning(this, tr("保存捕获文件"),
                           tr("保存文件失败: %1\n%2 行的帧没有保存下来, 无法写入文件。%3")
                                   .arg(path)
                                   .arg(missing)
                                   .arg(m_store->errorString()));
        return false;
    }

    QProgressDialog progress(tr("正在保存 %1 个数据包...").arg(frames.size()), tr("取消"), 0,
                             static_cast<int>(frames.size()), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    QString error;
    const bool saved = save_frames(*m_store, frames, path, &error, [&progress](std::size_t done) {
        progress.setValue(static_cast<int>(done));
        return !progress.wasCanceled();
    });
    progress.reset();
    if (!saved) {
        show_plain_warning(this, tr("保存捕获文件"), tr("保存文件失败: %1\n%2").arg(path, error));
        return false;
    }
    if (!shown_only) // the hidden rows are still to be saved
        m_unsaved->saved(mark);
    // A save of many rows takes a while: say that it is done, and where.
    statusBar()->showMessage(tr("已保存 %1 个数据包到 %2").arg(frames.size()).arg(path),
                             kSavedNoticeMs);
    return true;
}

int MainWindow::find_row(const QString& pattern, FindKind kind, int from_row, bool forward)
{
    return m_find->find_now(pattern, kind, from_row, forward);
}

bool MainWindow::settle_unsaved_rows(UnsavedRowsLoss loss)
{
    if (CUpdate* capture = g_capture_thread) {
        on_pushButton_7_clicked();
        // The rows it sent before it saw the stop are asked about and saved
        // with the others.
        capture->wait(kStopWaitMs);
        if (CaptureIntake* intake = CaptureIntake::of(capture))
            intake->take_all();
    }
    const std::uint64_t rows = m_unsaved->count();
    if (rows == 0 || !m_settings->ask_to_save_rows())
        return true;
    bool never_again = false;
    switch (ask_about_unsaved_rows(this, rows, &never_again, loss)) {
    case UnsavedRowsChoice::Cancel:
        return false;
    case UnsavedRowsChoice::Discard:
        break;
    case UnsavedRowsChoice::Save: {
        const QString path = ask_save_path(this);
        if (path.isEmpty() || !save_capture_file(path))
            return false;
        break;
    }
    }
    if (never_again)
        m_settings->set_ask_to_save_rows(false);
    return true;
}

void MainWindow::on_pushButton_7_clicked()
{
    show_capturing(*ui, false);
    if (g_capture_thread == nullptr)
        return;
    // The capture ends by itself shortly; its object is released then.
    g_capture_thread->stop_flag = true;
    setWindowTitle(tr("停止捕获"));
}

void MainWindow::on_pushButton_clicked()
{
    m_rows->clear();
    m_store->clear();
    // Rows still on their way whose frames went with the store follow them.
    if (CaptureIntake* intake = CaptureIntake::of(g_capture_thread))
        intake->discard();
    m_unsaved->cleared();
    show_emptied(*this, *ui);
}

void MainWindow::show_data_UI(QString line)
{
    // A capture stored the frame of each line it emitted, in the same order.
    std::optional<std::int64_t> frame;
    bool from_file = false;
    if (auto* capture = qobject_cast<CUpdate*>(sender())) {
        frame = capture->take_stored_frame();
        from_file = capture->adapter_name.startsWith(kFileScheme);
    }
    // A line comes without its segment: the analysis takes it from the
    // stored frame.
    const std::optional<StoredFrame> stored = frame ? m_store->read_frame(*frame) : std::nullopt;
    const std::optional<CapturedSegment> segment
            = stored ? decode_stored_segment(*stored) : std::nullopt;
    m_rows->append(line, frame, segment ? &*segment : nullptr);
    if (!from_file)
        m_unsaved->captured();
}

void MainWindow::on_pushButton_3_clicked()
{
    place_filter_form(*this, *g_filter_form);
    g_filter_form->show();
    g_filter_form->raise();
}

void MainWindow::on_tableWidget_2_itemClicked(QTableWidgetItem* item)
{
    if (item == nullptr || item->tableWidget() == nullptr || item->column() != kHexColumn)
        return;
    const QString hex = item->text();
    // Plain text throughout: a payload that looks like markup shows its source.
    ui->textEdit_2->setPlainText(hex);
    const QString text = payload_text(decode_hex_text(hex), Encoding::Utf8);
    ui->textEdit->setPlainText(text);
    ui->label_2->setText(length_text(hex.size() / 2));
    ui->label_3->setText(length_text(text.size()));
}

void MainWindow::on_pushButton_8_clicked()
{
    const QString hex = ui->textEdit_2->toPlainText();
    // Every decoded byte, zero bytes included: one per pair of characters.
    const QByteArray bytes = decode_hex_text(hex).left(hex.size() / 2);

    // A window of its own, owned by this one (so that closing this window
    // ends the program); closing it releases it with its document and
    // buffer.
    auto* window = new HexWindow(this);
    window->setWindowFlag(Qt::Window);
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(bytes.constData(), bytes.size());
    window->setDocument(new QHexDocument(buffer));
    window->show();
}

HexWindow* MainWindow::follow_tcp_stream(int row)
{
    HexWindow* window
            = open_stream_window(this, *m_rows, m_store->isValid() ? m_store.get() : nullptr, row,
                                 [] { return g_capture_thread != nullptr; });
    if (window != nullptr)
        m_tls->offer(window, [this, row] { follow_tls_stream(row); });
    return window;
}

HexWindow* MainWindow::follow_tls_stream(int row)
{
    return m_tls->follow(*m_rows, m_store->isValid() ? m_store.get() : nullptr, row,
                         [] { return g_capture_thread != nullptr; });
}

bool MainWindow::load_tls_keylog(const QString& path)
{
    return m_tls->load(path);
}

void MainWindow::on_pushButton_4_clicked()
{
    const QByteArray bytes = decode_hex_text(ui->textEdit_2->toPlainText());
    ui->textEdit->setPlainText(payload_text(bytes, Encoding::Local8Bit));
}

void MainWindow::on_pushButton_5_clicked()
{
    const QByteArray bytes = decode_hex_text(ui->textEdit_2->toPlainText());
    ui->textEdit->setPlainText(payload_text(bytes, Encoding::Utf8));
}

void MainWindow::on_pushButton_9_clicked()
{
    // The button names the theme its next click selects.
    const QString toDark = tr("黑色主题");
    if (ui->pushButton_9->text() != toDark) {
        load_theme(kLightTheme);
        ui->pushButton_9->setText(toDark);
    } else {
        load_theme(kDarkTheme);
        ui->pushButton_9->setText(tr("亮色主题"));
    }
}

void MainWindow::on_pushButton_10_clicked()
{
    QMessageBox::information(this, tr("说明"),
                             tr("本软件基于libpcap开发,抓包由tarnlook-capture完成: "
                                "安装tarnlook软件包, 用 sudo usermod -aG tarnlook $USER "
                                "加入tarnlook组并重新登录即可, 无需以root身份运行本窗口\n")
                                     + tr("网卡的选择,一般选择连接互联网的网卡,可使用终端命令 "
                                          "ip addr查看自己所使用的网卡。")
                                     + tr("暂时只支持tcp协议的,如需更多功能可以选择wireshark。\n\n")
                                     + tr("请勿用于非法用途,否则责任自负"),
                             QMessageBox::Ok);
}

QAbstractItemModel* MainWindow::tcp_conversations()
{
    return m_analysis->conversations();
}
