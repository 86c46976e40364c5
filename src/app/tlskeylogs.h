// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

#include "tlssecret.h"

class QTimer;
class TlsKeyLog;

// The key logs the user gave (the File menu, --tls-keylog, SSLKEYLOGFILE),
// each watched for the lines a browser appends while the capture runs: read
// again twice a second. The secrets stay in memory (TlsKeyLog); only the
// paths are told to anyone.
class TlsKeyLogs : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TlsKeyLogs)

public:
    explicit TlsKeyLogs(QObject* parent = nullptr);
    ~TlsKeyLogs() override;

    // Reads the file and watches it; a path already held is read again.
    // False, with the reason in *error, when it cannot be read.
    bool add(const QString& path, QString* error);
    QStringList paths() const;
    // The secrets of the connection of this client random, from whichever
    // log holds them.
    TlsSecrets find(const std::array<std::uint8_t, 32>& client_random) const;
    bool contains(const std::array<std::uint8_t, 32>& client_random) const;
    std::size_t malformed_lines() const;
    // Reads what the files gained, as the timer does.
    void update();

signals:
    // New secrets came from a file.
    void changed();

private:
    std::vector<std::unique_ptr<TlsKeyLog>> m_logs;
    QTimer* m_timer;
};
