// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <pcap/pcap.h>

#include <QString>
#include <QThread>

#include "capturebatch.h"
#include "filtersettings.h"
#include "frametickets.h"
#include "resourcefloors.h"

class CaptureStore;

// One capture: opens the adapter named adapter_name, turns every frame into a
// record line, filters it and emits the lines that pass. Created anew for
// every capture and never restarted.
//
// A process that may not capture runs the capture program (CaptureHelper)
// and reads the frames from it; the lines are the same either way.
//
// adapter_name is a pcap device name ("lo", "eth0", "any"), "file://"
// followed by the path of a capture file, whose end ends the capture, or an
// interface of another host, "ssh://[user@]host[:port]/interface"
// (SshCaptureSource); open_capture_source() opens each. When the settings'
// capture filter is on, its expression is applied to the source before the
// first frame is read.
// adapter_name and filter are written before start() and only read after it.
//
// With a store, every frame whose line passes the filter is written to it
// before the line is emitted, and the frame's sequence number is queued for
// take_stored_frame(): the receiver of send_update takes one number per line,
// in the same order, so line k and number k belong to the same frame.
//
// A receiver connected to batch_ready gets the same rows in batches, each
// row with its line, its frame's number and its segment, through a backlog
// bounded in rows and bytes: a file or a stream then waits while the
// backlog is full (a stream's writer is pushed back on), a live adapter
// drops the rows it has no room for, before storing them, and counts them
// in rows_dropped. The backlog counts against the memory floor.
class CUpdate : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY(CUpdate)

public:
    enum Failure { ReadError, UnsupportedLinkType, StoreError, LowMemory, LowDisk };

    // Copies the settings: later changes to them do not reach this capture.
    explicit CUpdate(const FilterSettings& settings);
    // Stops and joins a capture that is still running.
    ~CUpdate() override;

    // Decodes one frame by the link type of the open source (Ethernet II when
    // none is open) and hands its record line, if any, to update_table.
    void parse_packet(const struct pcap_pkthdr* header, const u_char* data);

    QString adapter_name;
    // Open while run() captures; null before and after.
    pcap_t* pcap_handle = nullptr;
    // Set from any thread to end run(); it returns within about a tenth of a
    // second, and no line is emitted once it has seen the flag.
    std::atomic<bool> stop_flag { false };
    FilterSettings filter;
    // Where accepted frames are kept; none: nothing is kept. Set before start.
    CaptureStore* store = nullptr;
    // Below either floor the capture ends with capture_failed. Set before
    // start.
    ResourceFloors floors;
    // Frames the kernel dropped during the capture, as pcap_stats counts
    // them; valid once the thread has finished.
    std::uint64_t dropped = 0;
    // How far into a capture file the capture has read, in bytes; -1 for a
    // live source.
    std::atomic<std::int64_t> file_position { -1 };
    // Frames read from the source, whether or not they made a line that
    // passed the filter (those the capture filter keeps out are never read);
    // -1 until the source is open and its capture filter applied, so -1 once
    // finished means the capture never started.
    std::atomic<std::int64_t> frames_read { -1 };
    // Rows of a live adapter dropped for want of room in the backlog (see
    // batch_ready): the window was that far behind.
    std::atomic<std::uint64_t> rows_dropped { 0 };
    // Record lines the include and exclude lists refused (no row made).
    std::atomic<std::int64_t> lines_refused { 0 };

    // The store's number for the frame of the oldest line emitted and not yet
    // taken, or nothing when that line has no stored frame (or no line
    // waits). Call once per send_update received, on any thread but one at a
    // time. A capture file is read no further ahead of the receiver than a
    // few thousand lines, so that a large file does not pile its lines up in
    // memory.
    std::optional<std::int64_t> take_stored_frame();

    // Bounds the backlog of batch_ready's receiver (a few seconds of rows by
    // default): at most `rows` rows and about `bytes` bytes wait. Call
    // before start.
    void set_backlog_limits(std::size_t rows, std::size_t bytes);
    // The oldest batch of rows in the backlog, or nothing when none waits.
    // One thread at a time.
    std::optional<CaptureBatch> take_batch();
    // Drops the batches in the backlog, as when their frames are gone;
    // returns how many rows went. Rows the capture holds and has not yet
    // queued still arrive.
    std::size_t discard_backlog();

signals:
    // One record line that passed the filter; emitted on the capture thread.
    void send_update(QString qstr);
    // The source could not be opened, or libpcap rejected the capture filter
    // for it; reason is libpcap's. run() then ends without emitting any line.
    void open_failed(QString reason);
    // Instead of open_failed: neither this process nor the capture program
    // may capture on the adapter (reason says why, in libpcap's or the
    // system's words). run() then ends without emitting any line.
    void open_denied(QString reason);
    // The capture ended by itself before it was stopped; failure is a
    // Failure value, detail libpcap's reason, the link type's name or the
    // store's error.
    void capture_failed(int failure, QString detail);
    // Rows wait in the backlog where none waited: take them with take_batch
    // until it gives nothing; it is not emitted again before then. Emitted
    // on the capture thread. Only while it is connected (at start) are rows
    // batched.
    void batch_ready();

public slots:
    // Emits send_update(qstr) once when the line passes this capture's filter
    // (see filter_accepts), else not at all.
    void update_table(QString qstr);

protected:
    void run() override;

private:
    // Hands the rows in hand to the backlog.
    void flush_batch();
    // Whether an include or exclude list is switched on.
    bool any_list_switch() const;
    // Whether the line is also emitted as send_update.
    bool single_lines() const;
    // Stores the frame that parse_packet hands over, if any, and queues its
    // number for take_stored_frame when `lines`; the number, or -1.
    std::int64_t store_frame(bool lines);
    // The rest of update_table for rows in batches: the line in UTF-8, and
    // as it was handed in, if it was (else null).
    void queue_row(std::string_view line, const QString* qline);
    // A buffer for the line of a frame of `caplen` captured bytes.
    char* line_room(std::uint32_t caplen);

    // The frame that parse_packet is handing to update_table, if any.
    const struct pcap_pkthdr* m_header = nullptr;
    const u_char* m_data = nullptr;
    int m_link_type = 0;
    bool m_nanoseconds = false; // the source's timestamps count nanoseconds
    FrameTickets m_tickets; // -1: that line has no stored frame
    bool m_from_file = false;
    std::unique_ptr<CaptureBacklog> m_backlog;
    CaptureBatch m_batch; // the rows in hand, not yet queued
    bool m_batching = false; // batch_ready was connected at start
    // Whether send_update was connected at start; nothing outside run().
    std::optional<bool> m_lines;
    // The line parse_packet hands over has no payload hex: its frame is
    // to be stored.
    bool m_hex_left_out = false;
    bool m_may_wait = true; // the source may wait for the backlog
    // Where parse_packet writes a frame's line, m_line_room bytes.
    std::unique_ptr<char[]> m_line;
    std::size_t m_line_room = 0;
    // The segment of the frame that parse_packet is handing over, if any.
    CapturedSegment m_segment;
    bool m_has_segment = false;
};
