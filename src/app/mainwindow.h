// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "packetsearch.h"

class AppSettings;
class CaptureAnalysis;
class CaptureStore;
class CUpdate;
class HexWindow;
class PacketFindBar;
class PacketRows;
class RemoteSources;
class QAbstractItemModel;
class QTableWidgetItem;
class ShownRows;
class TlsDecryption;
class UnsavedRows;
enum class UnsavedRowsLoss;

namespace Ui {
class MainWindow;
}

// The application's window: adapter list, start and stop, the filter options,
// the packet table, the payload views below it, the hex windows, the theme
// switch and the explanation box.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    // Lists the adapters; when libpcap cannot list them, tells the user and
    // ends the process with status 1.
    explicit MainWindow(QWidget* parent = nullptr);
    // Stops and joins every capture that is still running.
    ~MainWindow() override;

    // Sets the application's style sheet: the dark theme for 1, the light one
    // for any other value. Reaches every window, those opened later too.
    // Needs no window: static, so that a hex window opened alone gets it too.
    static void load_theme(int theme);

    // Reads a pcap or pcapng file in place of the rows shown: asks about
    // captured rows never saved, as closing does, then empties the table and
    // the store, and the file's TCP rows go through the decoding, filter and
    // table of a live capture. Returns once the file is open (the rows then
    // arrive as from a capture), true; false, having shown why and kept the
    // rows, when the file cannot be read or the user cancels. Refused while
    // a capture runs.
    bool open_capture_file(const QString& path);
    // Writes the frames of every row (or of the shown ones only), in row
    // order, to a pcap file. Returns true on success; on failure shows why,
    // leaves an existing file as it was and returns false.
    bool save_capture_file(const QString& path, bool shown_only = false);
    // What find_row looks at: the payload as text or as hex bytes, or the
    // fields but the payload (time, addresses, ports, length).
    using FindKind = PacketFindKind;
    // The first shown row after from_row (before it, backward) whose
    // payload or fields hold the pattern, case-sensitive, wrapping round the
    // ends; -1 when none does or the pattern is not valid (odd hex digits).
    int find_row(const QString& pattern, FindKind kind, int from_row, bool forward);
    // Makes the adapter with this pcap name (or description), or the remote
    // source with this ssh:// name, the chosen one; false when no adapter is
    // so called or the name is no source.
    bool select_adapter(const QString& name);
    // Starts capturing on the chosen adapter, as the start button does.
    void start_capture();
    // For main(): the process ends with this window. Its packet table is then
    // left to the process's end rather than freed cell by cell (a million
    // rows take a quarter of a second), as the system takes all of the
    // process's memory back at once. Everything else goes as always.
    void end_with_process();
    // Opens a stream window over the TCP connection of the row's segment,
    // both directions, and returns it; null, having told the user why, when
    // the row cannot be followed (its frame is no longer stored, say).
    HexWindow* follow_tcp_stream(int row);
    // Opens a window over the row's TCP connection decrypted as TLS with
    // the secrets of the loaded key logs, and returns it; null, having told
    // the user why, when the connection is not TLS, the key logs hold no
    // secrets for it, or its frames are no longer stored.
    HexWindow* follow_tls_stream(int row);
    // Adds the secrets of a TLS key log (and those appended to it later)
    // and remembers its path; false, having told the user why, when the
    // file cannot be read.
    bool load_tls_keylog(const QString& path);
    // The TCP connections of the rows, as "统计" -> "TCP会话..." shows them
    // (ConversationsModel: its columns, texts and numbers), kept as rows
    // arrive.
    QAbstractItemModel* tcp_conversations();
    // Shows text in the status bar for as long as the window lives, without
    // blocking it: for what main() must tell the user at start. One line
    // (all of it in the tooltip).
    void show_notice(const QString& text);

private slots:
    void on_pushButton_2_clicked();
    void on_pushButton_7_clicked();
    void on_pushButton_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_10_clicked();
    void on_tableWidget_2_itemClicked(QTableWidgetItem* item);
    void on_pushButton_8_clicked();
    void on_pushButton_4_clicked();
    void on_pushButton_5_clicked();
    void on_pushButton_9_clicked();

public slots:
    // Appends one record line as a row of eight centred cells.
    void show_data_UI(QString line);

private:
    // Starts a capture of `source` (an adapter name or "file://" and a
    // path) in the capturing state with the given title; prepare, if given,
    // connects to the capture before it starts.
    CUpdate* launch_capture(const QString& source, const QString& title,
                            const std::function<void(CUpdate*)>& prepare = {});
    void report_failure(int failure, const QString& detail);
    // The stopped state, its title naming the frames the kernel dropped,
    // the rows the capture had no room for on their way to the table, and
    // the lines the include and exclude lists refused, if any.
    void show_stopped_state(std::uint64_t dropped, std::uint64_t rows_dropped = 0,
                            std::int64_t refused = 0);
    // Before the window closes (or a file replaces the rows): stops a running
    // capture, then asks about captured rows never saved and saves them if
    // so told. False: the window stays open, the rows stay (the user
    // cancelled, or the save did not happen).
    bool settle_unsaved_rows(UnsavedRowsLoss loss);

    Ui::MainWindow* ui;
    // The frames behind the rows, on disk; removed with the window.
    std::unique_ptr<CaptureStore> m_store;
    PacketRows* m_rows; // a child of the table
    PacketFindBar* m_find = nullptr; // under the table
    ShownRows* m_shown = nullptr; // a child of the table
    AppSettings* m_settings = nullptr; // a child of this window
    RemoteSources* m_remote = nullptr; // a child of this window
    TlsDecryption* m_tls = nullptr; // a child of this window
    // What the rows' segments tell: connections, marks, conversations and
    // the traffic graph's counts; a child of this window.
    CaptureAnalysis* m_analysis = nullptr;
    std::unique_ptr<UnsavedRows> m_unsaved;
    bool m_ends_with_process = false;
};

// The pcap name of every adapter listed; entry i belongs to item i of the
// adapter list. Filled once, when the window is built.
extern QStringList g_adapter_names;
// The capture of the latest start while it runs; null before the first start
// and once that capture has finished (its object is then released).
extern CUpdate* g_capture_thread;
