// SPDX-License-Identifier: GPL-2.0-or-later

#include "captureintake.h"

#include <limits>

#include <QElapsedTimer>

#include "capturestore.h"
#include "cupdate.h"
#include "packetrows.h"

namespace {

// How long one slice appends rows: the event loop runs between slices, so a
// person's clicks and keys wait no longer than about this, plus a repaint.
constexpr qint64 kSliceNs = 12'000'000;
// The clock is read every this many rows.
constexpr int kRowsPerClockLook = 32;

} // namespace

CaptureIntake::CaptureIntake(CUpdate* capture, PacketRows& rows, const CaptureStore* store)
    : QObject(capture)
    , m_capture(capture)
    , m_rows(rows)
    , m_store(store)
{
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, [this] {
        if (take_slice(kSliceNs))
            take_later();
        else
            finish_when_done();
    });
    connect(capture, &CUpdate::batch_ready, this, [this] {
        if (m_next.isActive())
            return; // a slice is due anyway
        if (take_slice(kSliceNs))
            take_later();
    });
    connect(capture, &QThread::finished, this, [this] {
        m_thread_done = true;
        take_later();
    });
}

CaptureIntake* CaptureIntake::of(const CUpdate* capture)
{
    return capture != nullptr
            ? capture->findChild<CaptureIntake*>(QString(), Qt::FindDirectChildrenOnly)
            : nullptr;
}

void CaptureIntake::take_all()
{
    // A thread that has finished has queued its last row.
    if (m_capture->isFinished())
        m_thread_done = true;
    while (take_slice(std::numeric_limits<qint64>::max())) { }
    finish_when_done();
}

void CaptureIntake::discard()
{
    // With a store, a row's frame number tells exactly which side of the
    // clear it was read on: those before are left out as they are taken,
    // and a frame stored meanwhile is not lost with them.
    if (m_store != nullptr)
        return;
    m_batch.reset();
    m_at = 0;
    m_capture->discard_backlog();
}

void CaptureIntake::take_later()
{
    if (!m_next.isActive())
        m_next.start();
}

void CaptureIntake::finish_when_done()
{
    if (!m_thread_done || m_finished)
        return;
    m_finished = true;
    emit finished();
}

bool CaptureIntake::take_slice(qint64 budget_ns)
{
    QElapsedTimer clock;
    clock.start();
    int taken = 0;
    int looked = 0;
    bool more = true;
    for (;;) {
        if (!m_batch || m_at == m_batch->rows.size()) {
            m_batch = m_capture->take_batch();
            m_at = 0;
            if (!m_batch) {
                more = false;
                break;
            }
        }
        const CaptureRow& row = m_batch->rows[m_at++];
        // Queued before a clear: its frame went with the store.
        if (row.frame && (m_store == nullptr || !m_store->contains(*row.frame)))
            continue;
        m_rows.append(m_batch->line(row), row.frame, row.segment ? &*row.segment : nullptr);
        ++taken;
        if (++looked == kRowsPerClockLook) {
            looked = 0;
            if (clock.nsecsElapsed() >= budget_ns)
                break;
        }
    }
    if (!more)
        m_batch.reset();
    if (taken > 0 && m_taken)
        m_taken(taken);
    return more;
}
