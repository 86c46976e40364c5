// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexfilesaver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "qfilebuffer.h"
#include "qhexdocument.h"

namespace {

constexpr qint64 kPiece = qint64(4) << 20;

QString tr(const char* text)
{
    return QCoreApplication::translate("HexFileSaver", text);
}

} // namespace

HexFileSaver::HexFileSaver(QHexDocument* document)
    : m_document(document)
{ }

bool HexFileSaver::save(const QString& fileName, const Progress& progress)
{
    m_error.clear();
    m_cancelled = false;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }

    const qint64 length = m_document->length();
    for (qint64 offset = 0; offset < length; offset += kPiece) {
        const int size = static_cast<int>(qMin(kPiece, length - offset));
        const QByteArray bytes = m_document->read(offset, size);
        if (bytes.size() != size) {
            m_error = tr("无法读取偏移 %1 处的数据").arg(offset);
            return false; // QSaveFile drops the temporary file
        }
        if (file.write(bytes) != size) {
            m_error = file.errorString();
            return false;
        }
        if (progress && !progress(offset + size, length)) {
            m_cancelled = true;
            m_error = tr("保存已取消");
            return false;
        }
    }
    if (!file.commit()) {
        m_error = file.errorString();
        return false;
    }

    // The old file is gone from the folder (renamed over); a document over it
    // reads the new one from now on, edits included, which are now its bytes.
    if (auto* buffer = qobject_cast<QFileBuffer*>(m_document->buffer()))
        buffer->load(new QFile(fileName)); // the buffer takes it over
    m_document->setUnmodified();
    return true;
}
