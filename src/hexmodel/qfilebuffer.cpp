#include "qfilebuffer.h"

#include <QFile>

#include "deviceio.h"

QFileBuffer::QFileBuffer(QObject* parent)
    : QHexBuffer(parent)
{ }

QFileBuffer::~QFileBuffer()
{
    if (m_file == nullptr)
        return;
    if (m_file->isOpen())
        m_file->close();
    delete m_file;
    m_file = nullptr;
}

qint64 QFileBuffer::length() const
{
    return m_file != nullptr ? m_file->size() : 0;
}

void QFileBuffer::insert(qint64 /*offset*/, const QByteArray& /*data*/)
{ }

void QFileBuffer::remove(qint64 /*offset*/, int /*length*/)
{ }

QByteArray QFileBuffer::read(qint64 offset, int length)
{
    return m_file != nullptr ? deviceRead(*m_file, offset, length) : QByteArray();
}

bool QFileBuffer::load(QIODevice* device)
{
    m_file = qobject_cast<QFile*>(device);
    if (m_file == nullptr)
        return false;
    m_file->setParent(this);
    // Read-write when the file allows it, as editors expect; never create a
    // file that is not there.
    if (!m_file->isOpen() && !m_file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        m_file->open(QIODevice::ReadOnly);
    return true;
}

void QFileBuffer::write(QIODevice* device)
{
    // The store cannot be edited, so its bytes are the file's.
    if (m_file != nullptr && device != nullptr)
        deviceCopy(*m_file, *device);
}

qint64 QFileBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    return m_file != nullptr ? deviceIndexOf(*m_file, pattern, from) : -1;
}

qint64 QFileBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    return m_file != nullptr ? deviceLastIndexOf(*m_file, pattern, from) : -1;
}
