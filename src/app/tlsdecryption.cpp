// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsdecryption.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

#include "appsettings.h"
#include "followtls.h"
#include "tlskeylogs.h"

TlsDecryption::TlsDecryption(QMainWindow& window, AppSettings& settings, QAction& choose)
    : QObject(&window)
    , m_window(window)
    , m_settings(settings)
    , m_keys(new TlsKeyLogs(this))
{
    connect(&choose, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getOpenFileName(&m_window, tr("选择TLS密钥日志"),
                                                          m_settings.tls_keylog());
        if (!path.isEmpty())
            load(path);
    });
    loadAtStart();
}

TlsDecryption::~TlsDecryption() = default;

bool TlsDecryption::load(const QString& path)
{
    QString error;
    const std::size_t malformed = m_keys->malformed_lines();
    if (!m_keys->add(path, &error)) {
        QMessageBox::information(&m_window, tr("TLS密钥日志"), error);
        return false;
    }
    m_settings.set_tls_keylog(QFileInfo(path).absoluteFilePath());
    tellMalformedLines(m_keys->malformed_lines() - malformed);
    return true;
}

HexWindow* TlsDecryption::follow(const PacketRows& rows, const CaptureStore* store, int row,
                                 const std::function<bool()>& capturing)
{
    bool cancelled = false;
    HexWindow* window
            = open_tls_stream_window(&m_window, rows, store, row, capturing, *m_keys, &cancelled);
    if (cancelled)
        m_window.statusBar()->showMessage(tr("已取消追踪TLS流。"));
    return window;
}

void TlsDecryption::offer(HexWindow* window, const std::function<void()>& open) const
{
    offer_tls_view(window, *m_keys, open);
}

// SSLKEYLOGFILE when it names a readable file (said once in the status bar),
// and the one chosen last when it is still there.
void TlsDecryption::loadAtStart()
{
    QString ignored;
    const std::size_t before = m_keys->malformed_lines();
    const QString environment = qEnvironmentVariable("SSLKEYLOGFILE");
    if (!environment.isEmpty() && QFileInfo(environment).isReadable()
        && m_keys->add(environment, &ignored))
        m_window.statusBar()->showMessage(
                tr("解密TLS时使用 SSLKEYLOGFILE 中的密钥: %1").arg(environment));
    const QString last = m_settings.tls_keylog();
    if (!last.isEmpty() && QFileInfo(last).isReadable())
        m_keys->add(last, &ignored);
    tellMalformedLines(m_keys->malformed_lines() - before);
}

// Key log lines that did not read: said once, in the status bar.
void TlsDecryption::tellMalformedLines(std::size_t count)
{
    if (count > 0)
        m_window.statusBar()->showMessage(tr("TLS密钥日志中有 %1 行格式不对, 已跳过").arg(count));
}
