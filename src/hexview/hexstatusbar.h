// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QStatusBar>

class QHexDocument;
class QLabel;

// The status bar of a hex window: the caret offset in hex and decimal, the
// selection's length, the byte under the caret as unsigned and signed 8-bit
// and the 16- and 32-bit little-endian values that start there, the
// insertion mode and whether the window is read-only.
class HexStatusBar : public QStatusBar
{
    Q_OBJECT
    Q_DISABLE_COPY(HexStatusBar)

public:
    explicit HexStatusBar(QWidget* parent = nullptr);

    // Shows the state of the document's cursor; a null document shows
    // nothing.
    void showState(QHexDocument* document, bool readOnly);

    QString offsetText() const;
    QString selectionText() const;
    QString valueText() const;
    QString modeText() const;
    QString readOnlyText() const;

private:
    QLabel* m_offset;
    QLabel* m_selection;
    QLabel* m_value;
    QLabel* m_mode;
    QLabel* m_readonly;
};
