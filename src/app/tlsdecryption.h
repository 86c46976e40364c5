// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QObject>

class AppSettings;
class CaptureStore;
class HexWindow;
class PacketRows;
class QAction;
class QMainWindow;
class QString;
class TlsKeyLogs;

// The decryption of TLS in a main window: its key logs (SSLKEYLOGFILE and
// the one chosen last, read at the start; the one `choose` asks for, as
// "TLS密钥日志..." in the File menu; those given to load()), whose paths the
// settings remember, and the TLS follow of the window's rows with their
// secrets. What it tells goes to the window's status bar, or in a box over
// the window when the user has to know.
class TlsDecryption : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TlsDecryption)

public:
    // A child of the window; the settings must outlive it.
    TlsDecryption(QMainWindow& window, AppSettings& settings, QAction& choose);
    ~TlsDecryption() override;

    const TlsKeyLogs& keys() const { return *m_keys; }
    // Adds the secrets of a TLS key log (and those appended to it later)
    // and remembers its path; false, having told the user why, when the
    // file cannot be read. Malformed lines are counted in the status bar.
    bool load(const QString& path);
    // The row's TCP connection decrypted in a window of its own (see
    // open_tls_stream_window()); null, having told the user why (in the
    // status bar when the user cancelled the reading).
    HexWindow* follow(const PacketRows& rows, const CaptureStore* store, int row,
                      const std::function<bool()>& capturing);
    // In the TCP stream window of a TLS connection: the decrypted view,
    // which `open` opens.
    void offer(HexWindow* window, const std::function<void()>& open) const;

private:
    void loadAtStart();
    void tellMalformedLines(std::size_t count);

    QMainWindow& m_window;
    AppSettings& m_settings;
    TlsKeyLogs* m_keys; // a child
};
