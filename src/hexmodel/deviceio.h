// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QByteArray>

class QIODevice;

// Reading, searching and copying a random-access device in bounded pieces,
// for the stores that read through one. None of them reads more than a window
// of about a mebibyte (or twice the pattern) at a time, so a file of several
// GiB is searched without being loaded. Nothing is read from a device that is
// not open for reading.

// Up to `length` bytes from `offset` of a store `size` bytes long; empty
// outside it. What the window searches below read through.
using WindowReader = std::function<QByteArray(qint64 offset, int length)>;

// The first match at or after from (a negative from counts from the end, as
// QByteArray does); -1 when there is none or from is at or past the end.
qint64 windowIndexOf(const WindowReader& read, qint64 size, const QByteArray& pattern, qint64 from);

// The last match that ends at or before from; -1 when there is none or from
// is negative.
qint64 windowLastIndexOf(const WindowReader& read, qint64 size, const QByteArray& pattern,
                         qint64 from);

// Up to length bytes from offset; empty outside the device or for length <= 0.
QByteArray deviceRead(QIODevice& device, qint64 offset, int length);

// windowIndexOf() over the device.
qint64 deviceIndexOf(QIODevice& device, const QByteArray& pattern, qint64 from);

// windowLastIndexOf() over the device.
qint64 deviceLastIndexOf(QIODevice& device, const QByteArray& pattern, qint64 from);

// Writes every byte of the source to the target, in order.
void deviceCopy(QIODevice& source, QIODevice& target);
