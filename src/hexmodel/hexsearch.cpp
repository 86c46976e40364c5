// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexsearch.h"

#include <cstring>

#include "qfilebuffer.h"
#include "qhexbuffer.h"
#include "qhexdocument.h"

namespace {

constexpr qint64 kMaxWindow = qint64(64) << 20;

} // namespace

HexSearch::HexSearch(QHexDocument* document)
    : m_document(document)
{ }

void HexSearch::setWindowSize(qint64 bytes)
{
    m_window = qBound<qint64>(1, bytes, kMaxWindow);
}

void HexSearch::start(const QByteArray& pattern, qint64 from, Direction direction)
{
    m_pattern = pattern;
    m_direction = direction;
    m_match = -1;
    m_scanned = 0;
    m_wrapped = false;
    m_total = m_document != nullptr ? m_document->length() : 0;
    const qint64 lastStart = m_total - pattern.size();
    if (pattern.isEmpty() || lastStart < 0 || pattern.size() > kMaxWindow) {
        finish(Status::NotFound);
        return;
    }
    m_from = qBound<qint64>(-1, from, m_total);
    m_skipHoles = pattern.count('\0') != pattern.size();
    if (direction == Direction::Forward) {
        m_low = m_from;
        m_high = lastStart;
    } else {
        m_low = 0;
        m_high = qMin(m_from, lastStart);
    }
    m_status = Status::Running;
}

HexSearch::Status HexSearch::step()
{
    if (m_status != Status::Running)
        return m_status;
    if (m_low > m_high && !wrap())
        return finish(Status::NotFound);
    return m_direction == Direction::Forward ? stepForward() : stepBackward();
}

HexSearch::Status HexSearch::run()
{
    while (step() == Status::Running) { }
    return m_status;
}

void HexSearch::cancel()
{
    if (m_status == Status::Running)
        m_status = Status::Cancelled;
}

bool HexSearch::wrap()
{
    if (m_wrapped)
        return false;
    m_wrapped = true;
    const qint64 lastStart = m_total - m_pattern.size();
    if (m_direction == Direction::Forward) {
        m_low = 0;
        m_high = qMin(m_from - 1, lastStart);
    } else {
        m_low = m_from + 1;
        m_high = lastStart;
    }
    return m_low <= m_high;
}

HexSearch::Status HexSearch::stepForward()
{
    const qint64 extra = m_pattern.size() - 1;
    if (m_skipHoles) {
        // A match that starts this far before the data would lie wholly in a
        // hole, all zeros, which the pattern is not.
        auto* file = qobject_cast<QFileBuffer*>(m_document->buffer());
        if (file != nullptr) {
            const qint64 data = file->dataStart(m_low);
            if (data - extra > m_low) {
                m_scanned += qMin(data - extra, m_high + 1) - m_low;
                m_low = data - extra;
                if (m_low > m_high)
                    return m_status;
            }
        }
    }
    const qint64 last = qMin(m_high, m_low + m_window - 1); // last start looked at
    const QByteArray bytes = m_document->read(m_low, static_cast<int>(last - m_low + 1 + extra));
    const void* hit = bytes.size() < m_pattern.size()
            ? nullptr
            : ::memmem(bytes.constData(), static_cast<size_t>(bytes.size()), m_pattern.constData(),
                       static_cast<size_t>(m_pattern.size()));
    if (hit != nullptr)
        return finish(Status::Found, m_low + (static_cast<const char*>(hit) - bytes.constData()));
    m_scanned += last - m_low + 1;
    m_low = last + 1;
    return m_status;
}

HexSearch::Status HexSearch::stepBackward()
{
    const qint64 first = qMax(m_low, m_high - m_window + 1); // first start looked at
    const int size = static_cast<int>(m_high - first + m_pattern.size());
    const QByteArray bytes = m_document->read(first, size);
    const int at = bytes.lastIndexOf(m_pattern, static_cast<int>(m_high - first));
    if (at >= 0)
        return finish(Status::Found, first + at);
    m_scanned += m_high - first + 1;
    m_high = first - 1;
    return m_status;
}

HexSearch::Status HexSearch::finish(Status status, qint64 match)
{
    m_status = status;
    m_match = match;
    if (status == Status::NotFound)
        m_scanned = m_total;
    return m_status;
}
