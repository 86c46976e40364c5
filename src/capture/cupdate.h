// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <pcap/pcap.h>

#include <QString>
#include <QThread>

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
    // Record lines the include and exclude lists refused (no row made).
    std::atomic<std::int64_t> lines_refused { 0 };

    // The store's number for the frame of the oldest line emitted and not yet
    // taken, or nothing when that line has no stored frame (or no line
    // waits). Call once per send_update received, on any thread but one at a
    // time. A capture file is read no further ahead of the receiver than a
    // few thousand lines, so that a large file does not pile its lines up in
    // memory.
    std::optional<std::int64_t> take_stored_frame();

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

public slots:
    // Emits send_update(qstr) once when the line passes this capture's filter
    // (see filter_accepts), else not at all.
    void update_table(QString qstr);

protected:
    void run() override;

private:
    // The frame that parse_packet is handing to update_table, if any.
    const struct pcap_pkthdr* m_header = nullptr;
    const u_char* m_data = nullptr;
    int m_link_type = 0;
    bool m_nanoseconds = false; // the source's timestamps count nanoseconds
    FrameTickets m_tickets; // -1: that line has no stored frame
    bool m_from_file = false;
};
