// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Records the TCP segments of one port on lo into a pcap file, on a thread
// of its own, as an independent witness of what a test sent.

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <linux/filter.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>

#include <QByteArray>
#include <QString>

class LoopbackRecorder
{
public:
    // Starts recording; error() says why it could not (needs root or
    // cap_net_raw). When `marker` is given, markerSeen() turns true once a
    // frame holding it was written to the file. With `miss_percent`, the
    // kernel's filter leaves out that share of the frames at random, as a
    // capture that cannot keep up does: the capture misses segments that
    // TCP delivered.
    LoopbackRecorder(const QString& path, quint16 port, int snaplen, int buffer,
                     const QByteArray& marker = {}, int miss_percent = 0)
        : m_marker(marker)
    {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        m_handle = pcap_create("lo", errbuf);
        if (m_handle == nullptr) {
            m_error = QString::fromLocal8Bit(errbuf);
            return;
        }
        pcap_set_snaplen(m_handle, snaplen);
        pcap_set_immediate_mode(m_handle, 1);
        pcap_set_buffer_size(m_handle, buffer);
        bpf_program program {};
        const QByteArray filter = "tcp port " + QByteArray::number(port);
        if (pcap_activate(m_handle) < 0
            || pcap_compile(m_handle, &program, filter.constData(), 1, PCAP_NETMASK_UNKNOWN) != 0
            || !set_filter(program, miss_percent) || pcap_setnonblock(m_handle, 1, errbuf) != 0
            || (m_dumper = pcap_dump_open(m_handle, path.toLocal8Bit().constData())) == nullptr) {
            m_error = QStringLiteral("cannot capture on lo (needs root or cap_net_raw): ")
                    + QString::fromLocal8Bit(pcap_geterr(m_handle));
            return;
        }
        pcap_freecode(&program);
        m_thread = std::thread([this] { loop(); });
    }
    LoopbackRecorder(const LoopbackRecorder&) = delete;
    LoopbackRecorder& operator=(const LoopbackRecorder&) = delete;

    ~LoopbackRecorder()
    {
        stop();
        if (m_dumper != nullptr)
            pcap_dump_close(m_dumper);
        if (m_handle != nullptr)
            pcap_close(m_handle);
    }

    QString error() const { return m_error; }
    bool markerSeen() const { return m_marker_seen.load(); }

    // Takes what the kernel still holds and flushes the file; returns the
    // frames the kernel dropped (-1 when it cannot tell).
    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        pcap_stat stats {};
        return m_handle != nullptr && pcap_stats(m_handle, &stats) == 0 ? int(stats.ps_drop) : -1;
    }

private:
    bool set_filter(bpf_program& program, int miss_percent)
    {
        if (miss_percent <= 0)
            return pcap_setfilter(m_handle, &program) == 0;
        // A random number first: below the share, the frame is left out;
        // the filter's own jumps are relative and hold after these.
        std::vector<sock_filter> code {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_RANDOM)),
            BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, static_cast<__u32>(42949672U * miss_percent), 1, 0),
            BPF_STMT(BPF_RET | BPF_K, 0),
        };
        for (u_int i = 0; i < program.bf_len; ++i) {
            const bpf_insn& insn = program.bf_insns[i];
            code.push_back({ insn.code, insn.jt, insn.jf, insn.k });
        }
        const sock_fprog kernel { static_cast<unsigned short>(code.size()), code.data() };
        return setsockopt(pcap_fileno(m_handle), SOL_SOCKET, SO_ATTACH_FILTER, &kernel,
                          sizeof kernel)
                == 0;
    }

    static void onFrame(u_char* self, const pcap_pkthdr* header, const u_char* data)
    {
        auto* recorder = reinterpret_cast<LoopbackRecorder*>(self);
        pcap_dump(reinterpret_cast<u_char*>(recorder->m_dumper), header, data);
        const QByteArray& marker = recorder->m_marker;
        if (!marker.isEmpty()
            && memmem(data, header->caplen, marker.constData(), marker.size()) != nullptr) {
            pcap_dump_flush(recorder->m_dumper);
            recorder->m_marker_seen = true;
        }
    }

    void loop()
    {
        pollfd pfd { pcap_get_selectable_fd(m_handle), POLLIN, 0 };
        for (;;) {
            const bool last = m_stop; // read after the traffic has ended
            const int n = pcap_dispatch(m_handle, -1, &LoopbackRecorder::onFrame,
                                        reinterpret_cast<u_char*>(this));
            if (n <= 0 && last)
                break;
            if (n <= 0)
                poll(&pfd, 1, 20);
        }
        pcap_dump_flush(m_dumper);
    }

    const QByteArray m_marker;
    QString m_error;
    pcap_t* m_handle = nullptr;
    pcap_dumper_t* m_dumper = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_marker_seen { false };
};
