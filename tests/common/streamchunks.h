// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// A followed stream as the tests compare it with tshark's and the senders':
// chunks of (direction, bytes) in the conversation's order.

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

namespace streamchunks {

using Chunks = QVector<QPair<int, QByteArray>>;

// One direction's bytes.
inline QByteArray bytes_of(const Chunks& chunks, int direction)
{
    QByteArray bytes;
    for (const auto& chunk : chunks)
        if (chunk.first == direction)
            bytes += chunk.second;
    return bytes;
}

// Consecutive chunks of one direction as one, empty ones left out.
inline Chunks merged(const Chunks& chunks)
{
    Chunks result;
    for (const auto& chunk : chunks) {
        if (chunk.second.isEmpty())
            continue;
        if (!result.isEmpty() && result.last().first == chunk.first)
            result.last().second += chunk.second;
        else
            result.append(chunk);
    }
    return result;
}

// Where two byte strings first differ, for a failure message.
inline QString difference(const QByteArray& ours, const QByteArray& theirs)
{
    qsizetype at = 0;
    while (at < ours.size() && at < theirs.size() && ours.at(at) == theirs.at(at))
        ++at;
    return QStringLiteral("%1 bytes against %2, first difference at %3")
            .arg(ours.size())
            .arg(theirs.size())
            .arg(at);
}

} // namespace streamchunks
