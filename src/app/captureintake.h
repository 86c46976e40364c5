// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include <QObject>
#include <QTimer>

#include "capturebatch.h"

class CaptureStore;
class CUpdate;
class PacketRows;

// Takes a capture's batches of rows into the packet table on the interface
// thread, in slices of bounded time with the event loop running between
// them, so that the window answers under any input rate. A row whose frame
// the store no longer keeps (it was cleared after the row was queued) is
// left out. Emits finished once the capture's thread has finished and every
// row it queued is in the table.
class CaptureIntake : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(CaptureIntake)

public:
    // A child of the capture, connected to it before it starts. store may
    // be null (no row then has a frame).
    CaptureIntake(CUpdate* capture, PacketRows& rows, const CaptureStore* store);

    // Called with the number of rows each slice appended.
    void set_rows_taken(std::function<void(int)> taken) { m_taken = std::move(taken); }
    // Takes every row that waits, at once (before the window closes, say);
    // when the capture's thread has finished, finished follows.
    void take_all();
    // After the table and the store were cleared: the rows that wait with
    // frames stored before the clear never arrive; without a store, every
    // row that waits is dropped.
    void discard();

    // The intake of this capture, if it has one.
    static CaptureIntake* of(const CUpdate* capture);

signals:
    void finished();

private:
    // Appends rows until the slice's time is up; true when rows still wait.
    bool take_slice(qint64 budget_ns);
    void take_later();
    void finish_when_done();

    CUpdate* m_capture;
    PacketRows& m_rows;
    const CaptureStore* m_store;
    std::function<void(int)> m_taken;
    std::optional<CaptureBatch> m_batch; // taken from the backlog, in part appended
    std::size_t m_at = 0; // its next row
    QTimer m_next; // the next slice, after the events that wait
    bool m_thread_done = false;
    bool m_finished = false;
};
