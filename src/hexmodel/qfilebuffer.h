#pragma once

#include "qhexbuffer.h"

class QFile;

// A read-only store that reads through a file, only what is asked for: a file
// of several GiB opens at once. Insert and remove do nothing. A backward
// search finds the last match that ends at or before `from`.
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
    // could not be opened: it then reads as empty.
    bool load(QIODevice* device) override;
    // Streams the file's bytes to the device, in order.
    void write(QIODevice* device) override;
    qint64 indexOf(const QByteArray& pattern, qint64 from) override;
    qint64 lastIndexOf(const QByteArray& pattern, qint64 from) override;

private:
    QFile* m_file = nullptr;
};
