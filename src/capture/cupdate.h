#pragma once

#include <atomic>

#include <pcap/pcap.h>

#include <QString>
#include <QThread>

#include "filtersettings.h"

// One capture: opens the adapter named adapter_name, turns every frame into a
// record line, filters it and emits the lines that pass. Created anew for
// every capture and never restarted.
//
// A process that may not capture runs the capture program (CaptureHelper)
// and reads the frames from it; the lines are the same either way.
//
// adapter_name is a pcap device name ("lo", "eth0", "any"), or "file://"
// followed by the path of a capture file, whose end ends the capture. When
// the settings' capture filter is on, its expression is applied to the
// source before the first frame is read.
// adapter_name and filter are written before start() and only read after it.
class CUpdate : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY(CUpdate)

public:
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

public slots:
    // Emits send_update(qstr) once when the line passes this capture's filter
    // (see filter_accepts), else not at all.
    void update_table(QString qstr);

protected:
    void run() override;
};
