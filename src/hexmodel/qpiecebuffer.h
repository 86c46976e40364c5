// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <vector>

#include "qgrowingbuffer.h"

// A store made of pieces of other files, which it reads on demand and never
// copies: its base is a list of runs (source file, offset, length), such as
// the payloads of a TCP stream in the capture store's files. The base grows
// at its end while the store is in use (appendRun): no byte already there
// moves, and bytes appended after edits land after the current last byte.
//
// Sources are open file descriptors handed over by the caller; the store
// reads them by offset (preadv(), never moving their file position) and
// closes them when it is destroyed, so a file may be unlinked once added.
// Edits stay in memory as pieces of the base and of added bytes (as in
// QFileBuffer, see QGrowingBuffer); the files are never written.
//
// Bookkeeping: 16 bytes per run; adjacent runs of one file that follow each
// other in it are kept as one. A read takes one system call for the runs
// that lie close together in one file, the bytes between them included.
class QPieceBuffer : public QGrowingBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(QPieceBuffer)

public:
    explicit QPieceBuffer(QObject* parent = nullptr);
    ~QPieceBuffer() override;

    // Takes over an open descriptor, readable with pread(); returns its source
    // number for appendRun(), or -1 (keeping nothing) for a negative one or
    // when 65,535 are held (the descriptor is then closed).
    int addSource(int fd);
    // Appends bytes [offset, offset + length) of the source at the end of the
    // base. Ignored for an unknown source, an offset that is negative or at
    // 2^48 or beyond, or length <= 0.
    // A run that the file turns out not to hold ends a read there.
    void appendRun(int source, qint64 offset, qint64 length);
    // Appends a copy of the bytes at the end of the base, for bytes that no
    // file holds (yet). At most 2^31 - 1 such bytes in all; more is ignored.
    void appendBytes(const QByteArray& bytes);
    // Makes room for this many runs in all, so that a known list is built
    // without regrowing.
    void reserveRuns(qint64 count);
    // Runs kept (after joining adjacent ones) and bytes appended, edits aside.
    qint64 runCount() const { return static_cast<qint64>(m_runs.size()); }

private:
    struct Run
    {
        // Where it starts in the base; its length is up to the next start.
        qint64 start;
        // Its source and the offset in it, packed.
        quint64 place;
        // An index in m_sources (-1: m_bytes).
        int source() const;
        qint64 offset() const;
    };

    void appendRunOf(int source, qint64 offset, qint64 length);
    // Up to a run that its file does not hold.
    qint64 readBase(qint64 offset, char* out, qint64 count) override;
    // Some of base bytes [offset, offset + count), from the run holding
    // `offset` on, in one read; 0 when its file holds none of them.
    qint64 readRuns(qint64 offset, char* out, qint64 count) const;

    std::vector<int> m_sources;
    std::vector<Run> m_runs;
    QByteArray m_bytes;
};
