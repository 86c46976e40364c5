// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QString>
#include <QtGlobal>

class QHexDocument;

// Writes a document's bytes to a file through a temporary file in the same
// folder that replaces the file only once every byte is written (QSaveFile):
// a failed save leaves the old file as it was. A document that reads
// through the very file it is saved to is not a copy onto itself: the
// document reads the old file while the new one is written, and reads the
// new one afterwards.
class HexFileSaver
{
public:
    // Called after each piece written with the bytes done and the total;
    // returning false cancels the save (the old file stays).
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    // The document is not owned.
    explicit HexFileSaver(QHexDocument* document);

    // True when the file now holds the document's bytes; then a document
    // over a file reads through the saved one, and is marked unmodified.
    // False otherwise, with errorString() saying why.
    [[nodiscard]] bool save(const QString& fileName, const Progress& progress = {});
    QString errorString() const { return m_error; }
    bool wasCancelled() const { return m_cancelled; }

private:
    QHexDocument* m_document;
    QString m_error;
    bool m_cancelled = false;
};
