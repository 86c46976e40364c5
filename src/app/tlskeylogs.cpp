// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlskeylogs.h"

#include <QFileInfo>
#include <QTimer>

#include "tlskeylog.h"

namespace {

constexpr int kWatchInterval = 500; // ms

} // namespace

TlsKeyLogs::TlsKeyLogs(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &TlsKeyLogs::update);
}

TlsKeyLogs::~TlsKeyLogs() = default;

bool TlsKeyLogs::add(const QString& path, QString* error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const auto& log : m_logs) {
        if (log->path() == absolute) {
            if (!log->open(absolute, error))
                return false;
            emit changed();
            return true;
        }
    }
    auto log = std::make_unique<TlsKeyLog>();
    if (!log->open(absolute, error))
        return false;
    m_logs.push_back(std::move(log));
    m_timer->start(kWatchInterval);
    emit changed();
    return true;
}

QStringList TlsKeyLogs::paths() const
{
    QStringList paths;
    for (const auto& log : m_logs)
        paths << log->path();
    return paths;
}

TlsSecrets TlsKeyLogs::find(const std::array<std::uint8_t, 32>& client_random) const
{
    for (const auto& log : m_logs) {
        TlsSecrets secrets = log->find(client_random);
        if (!secrets.empty())
            return secrets;
    }
    return TlsSecrets();
}

bool TlsKeyLogs::contains(const std::array<std::uint8_t, 32>& client_random) const
{
    for (const auto& log : m_logs)
        if (log->contains(client_random))
            return true;
    return false;
}

std::size_t TlsKeyLogs::malformed_lines() const
{
    std::size_t count = 0;
    for (const auto& log : m_logs)
        count += log->malformed_lines();
    return count;
}

void TlsKeyLogs::update()
{
    bool changed_any = false;
    for (const auto& log : m_logs)
        changed_any |= log->update();
    if (changed_any)
        emit changed();
}
