// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QHeaderView>

// The packet table's row numbers. Its width comes from the number of digits
// of the row count alone, and its rows have one fixed height, so that a new
// row costs the header nothing (a stock header measures its sections' texts
// after every change).
class RowNumberHeader : public QHeaderView
{
    Q_OBJECT
    Q_DISABLE_COPY(RowNumberHeader)

public:
    explicit RowNumberHeader(QWidget* parent = nullptr);

    // Call when the row count changes; cheap unless the digit count changed.
    void setRowCount(int rows);

    QSize sizeHint() const override;

private:
    int m_digits = 0;
    int m_width = 0;
};
