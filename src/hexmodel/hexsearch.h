// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QtGlobal>

class QHexDocument;

// A search of a document for a byte pattern, done in bounded steps so that a
// caller on the interface thread can keep its event loop going, show progress
// and cancel between steps. Each step reads one window of windowSize() bytes
// (plus the pattern's length less one, so that a match across the seam of two
// windows is found); over a sparse file the holes, which read as zeros, are
// skipped when the pattern holds a byte other than zero.
//
// Forward, the first match that starts at or after `from`; when there is none
// the search wraps and takes the first that starts before `from`. Backward,
// the last match that starts at or before `from`, then, wrapped, the last
// that starts after it. The document must not change while a search runs.
class HexSearch
{
public:
    enum class Direction { Forward, Backward };
    enum class Status { Idle, Running, Found, NotFound, Cancelled };

    // The document is not owned.
    explicit HexSearch(QHexDocument* document);

    // An empty pattern, or a document shorter than it, ends at once as
    // NotFound. `from` is clamped to [-1, length]: backward from -1 goes
    // round to the end at once.
    void start(const QByteArray& pattern, qint64 from, Direction direction);
    // Scans at most one window; returns the status after it. Does nothing
    // unless Running.
    Status step();
    // Steps until the search ends.
    Status run();
    // Ends a running search as Cancelled.
    void cancel();

    Status status() const { return m_status; }
    // The match's offset once Found, else -1.
    qint64 matchOffset() const { return m_match; }
    // Whether the search went round the document's end (or start, backward).
    bool wrapped() const { return m_wrapped; }
    // Bytes looked at so far, of totalBytes() at most, for progress.
    qint64 scannedBytes() const { return m_scanned; }
    qint64 totalBytes() const { return m_total; }

    qint64 windowSize() const { return m_window; }
    // At least 1 and at most 64 MiB; 4 MiB unless set.
    void setWindowSize(qint64 bytes);

private:
    // Begins the wrapped leg; false when there is none to do.
    bool wrap();
    Status stepForward();
    Status stepBackward();
    Status finish(Status status, qint64 match = -1);

    QHexDocument* m_document;
    QByteArray m_pattern;
    Direction m_direction = Direction::Forward;
    Status m_status = Status::Idle;
    qint64 m_window = qint64(4) << 20;
    qint64 m_from = 0;
    // The match starts still to look at in this leg: [m_low, m_high].
    qint64 m_low = 0;
    qint64 m_high = -1;
    qint64 m_match = -1;
    qint64 m_scanned = 0;
    qint64 m_total = 0;
    bool m_wrapped = false;
    bool m_skipHoles = false;
};
