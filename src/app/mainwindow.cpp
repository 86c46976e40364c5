#include "mainwindow.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <pcap/pcap.h>

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QSignalBlocker>
#include <QTableWidgetItem>
#include <QTextStream>

#include "capturestore.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "packetrecord.h"
#include "packetrows.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "qmemorybuffer.h"
#include "ui_mainwindow.h"

QStringList g_adapter_names;
CUpdate* g_capture_thread = nullptr;

namespace {

Q_LOGGING_CATEGORY(lcApp, "tarnlook.app")

constexpr int kDarkTheme = 1;
constexpr int kLightTheme = 2;
constexpr int kHexColumn = 7;

// Every capture object not yet released, the running ones among them; the
// window joins them when it is destroyed.
std::vector<QPointer<CUpdate>>& live_captures()
{
    static std::vector<QPointer<CUpdate>> captures;
    return captures;
}

// Idle and stopped look alike but for the title.
void show_stopped(QMainWindow& window, Ui::MainWindow& ui)
{
    ui.pushButton_7->setEnabled(false);
    ui.pushButton_2->setEnabled(true);
    ui.comboBox->setEnabled(true);
    window.setWindowTitle(MainWindow::tr("停止捕获"));
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

// The payload's text: its bytes up to the first zero byte.
QByteArray up_to_first_zero(const QByteArray& bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

QString length_text(int length)
{
    return MainWindow::tr("长度:") + QString::number(length);
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
    load_theme(kLightTheme);
    setWindowTitle(tr("Tarnlook -- 网卡流量捕获"));
    // Parentless, a window of its own; destroyed with this window.
    delete g_filter_form;
    g_filter_form = new FitWid;
    g_filter_form->hide();
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(width(), height());
    ui->textEdit->setPlainText(tr("默认显示UTF8数据"));
    ui->textEdit_2->setPlainText(QStringLiteral("16"));

    QString reason;
    if (!list_adapters(*ui->comboBox, &reason)) {
        QMessageBox::information(parent, tr("err"),
                                 tr("获取网卡设备失败  请确认已经安装Npcap或者Wincap. "
                                    "win10推荐Npcap,win7推荐wincap。见目录")
                                         + QLatin1Char('\n') + reason);
        std::exit(1);
    }
    ui->pushButton_7->setEnabled(false);
}

MainWindow::~MainWindow()
{
    g_capture_thread = nullptr;
    for (const QPointer<CUpdate>& capture : std::as_const(live_captures()))
        delete capture.data(); // stops and joins a running capture
    live_captures().clear();
    m_rows->clear();
    delete g_filter_form;
    g_filter_form = nullptr;
    delete ui;
}

void MainWindow::load_theme(int theme)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return;
    QFile file(theme == kDarkTheme ? QStringLiteral(":/qdarkstyle/dark/style.qss")
                                   : QStringLiteral(":/qdarkstyle/light/style.qss"));
    if (!file.exists()) {
        app->setStyleSheet(QString()); // the platform's own look
        return;
    }
    file.open(QIODevice::ReadOnly | QIODevice::Text);
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    app->setStyleSheet(stream.readAll());
}

void MainWindow::on_pushButton_2_clicked()
{
    const int index = ui->comboBox->currentIndex();
    if (index < 0 || index >= g_adapter_names.size())
        return; // no adapter to capture on

    ui->comboBox->setEnabled(false);
    const QString& adapter = g_adapter_names.at(index);
    qCDebug(lcApp).noquote() << adapter;
    setWindowTitle(tr("正在侦听网卡->") + ui->comboBox->currentText());
    ui->pushButton_2->setEnabled(false);

    // Parentless: released by deleteLater once finished, or by ~MainWindow.
    auto* capture = new CUpdate(g_filter_settings);
    g_capture_thread = capture;
    auto& captures = live_captures();
    captures.erase(std::remove(captures.begin(), captures.end(), nullptr), captures.end());
    captures.emplace_back(capture);

    if (m_store->isValid())
        capture->store = m_store.get();
    connect(capture, &CUpdate::send_update, this, &MainWindow::show_data_UI);
    connect(capture, &CUpdate::open_failed, this, [this, capture](const QString& reason) {
        if (g_capture_thread == capture)
            show_stopped(*this, *ui);
        QMessageBox::warning(this, tr("err"), tr("open pcap fail") + QLatin1Char('\n') + reason);
    });
    // A capture that ends by itself (read error, end of a capture file) puts
    // the window back in the stopped state, as the stop button would.
    connect(capture, &QThread::finished, this, [this, capture] {
        if (g_capture_thread != capture)
            return;
        g_capture_thread = nullptr;
        show_stopped(*this, *ui);
    });
    connect(capture, &QThread::finished, capture, &QObject::deleteLater);

    capture->adapter_name = adapter;
    capture->start(QThread::InheritPriority);
    ui->pushButton_7->setEnabled(true);
}

void MainWindow::on_pushButton_7_clicked()
{
    ui->pushButton_7->setEnabled(false);
    ui->pushButton_2->setEnabled(true);
    ui->comboBox->setEnabled(true);
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
}

void MainWindow::show_data_UI(QString line)
{
    // A capture stored the frame of each line it emitted, in the same order.
    std::optional<std::int64_t> frame;
    if (auto* capture = qobject_cast<CUpdate*>(sender()))
        frame = capture->take_stored_frame();
    m_rows->append(line, frame);
}

void MainWindow::on_pushButton_3_clicked()
{
    g_filter_form->show();
}

void MainWindow::on_tableWidget_2_itemClicked(QTableWidgetItem* item)
{
    if (item == nullptr || item->tableWidget() == nullptr || item->column() != kHexColumn)
        return;
    const QString hex = item->text();
    // Plain text throughout: a payload that looks like markup shows its source.
    ui->textEdit_2->setPlainText(hex);
    const QString text = QString::fromUtf8(up_to_first_zero(decode_hex_text(hex)));
    ui->textEdit->setPlainText(text);
    ui->label_2->setText(length_text(hex.size() / 2));
    ui->label_3->setText(length_text(text.size()));
}

void MainWindow::on_pushButton_8_clicked()
{
    const QString hex = ui->textEdit_2->toPlainText();
    // Every decoded byte, zero bytes included: one per pair of characters.
    const QByteArray bytes = decode_hex_text(hex).left(hex.size() / 2);

    // A window of its own; closing it releases it with its document and
    // buffer.
    auto* view = new QHexView;
    view->setAttribute(Qt::WA_DeleteOnClose);
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(bytes.constData(), bytes.size());
    view->setDocument(new QHexDocument(buffer, view));
    view->setWindowTitle(tr("HexEdit 十六进制查看编辑"));
    view->resize(700, 600);
    view->show();
}

void MainWindow::on_pushButton_4_clicked()
{
    const QByteArray bytes = decode_hex_text(ui->textEdit_2->toPlainText());
    ui->textEdit->setPlainText(QString::fromLocal8Bit(up_to_first_zero(bytes)));
}

void MainWindow::on_pushButton_5_clicked()
{
    const QByteArray bytes = decode_hex_text(ui->textEdit_2->toPlainText());
    ui->textEdit->setPlainText(QString::fromUtf8(up_to_first_zero(bytes)));
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
                             tr("本软件基于NpcapSDK开发\n")
                                     + tr("网卡的选择,一般选择连接互联网的网卡,可使用cmd命令 "
                                          "ipconfig查看自己所使用的网卡。")
                                     + tr("暂时只支持tcp协议的,如需更多功能可以选择wireshark。\n\n")
                                     + tr("请勿用于非法用途,否则责任自负"),
                             QMessageBox::Ok);
}
