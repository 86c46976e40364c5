// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include "hexpiecetable.h"
#include "qhexbuffer.h"

class QFile;

// A store that reads through a file, only what is asked for: a file of
// several GiB opens at once. A backward search finds the last match that ends
// at or before `from`.
//
// Read-only unless made editable: insert and remove then change what the
// store yields, kept in memory as pieces of the file and of added bytes,
// while the file itself is never written (write() streams the edited bytes
// to another device). An insert past the end or at a negative offset changes
// nothing.
class QFileBuffer : public QHexBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(QFileBuffer)

public:
    explicit QFileBuffer(QObject* parent = nullptr);
    ~QFileBuffer() override;

    using QHexBuffer::load;

    qint64 length() const override;
    void insert(qint64 offset, const QByteArray& data) override;
    void remove(qint64 offset, int length) override;
    QByteArray read(qint64 offset, int length) override;
    // Accepts a QFile only (false otherwise, leaving no file). A file not yet
    // open is opened read-write if it exists and may be written, else
    // read-only; a missing file is never created. True even when the file
    // could not be opened: it then reads as empty. A previous file is
    // released and any edits are dropped; the editable flag stays.
    bool load(QIODevice* device) override;
    // Streams the store's bytes to the device, in order.
    void write(QIODevice* device) override;
    qint64 indexOf(const QByteArray& pattern, qint64 from) override;
    qint64 lastIndexOf(const QByteArray& pattern, qint64 from) override;

    bool isEditable() const { return m_editable; }
    // Edits made while editable stay when it is turned off.
    void setEditable(bool editable) { m_editable = editable; }
    // Whether the file is open for writing: edits could be saved back to it.
    bool isFileWritable() const;
    // Empty without a file.
    QString fileName() const;
    // The first offset at or after `offset` whose byte may differ from zero:
    // every byte from `offset` up to it lies in a hole of a sparse file.
    // length() when only holes follow; `offset` itself when unsure.
    qint64 dataStart(qint64 offset);

private:
    // Turns the untouched file into a single piece, before the first edit.
    void beginEditing();
    // The file's bytes for the piece table.
    qint64 readFile(qint64 offset, char* out, qint64 count);

    QFile* m_file = nullptr;
    bool m_editable = false;
    // Used once edited; until then the file is read directly.
    bool m_edited = false;
    HexPieceTable m_pieces;
};
