// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <optional>

#include <QObject>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;

// The capture filter row of the filter form: ticking the box checks the
// expression against Ethernet at once. An expression that libpcap rejects
// leaves the box unticked and shows libpcap's reason in the error label;
// otherwise the switch and the expression go into g_filter_settings, which
// the next capture started copies. While the box is ticked the expression
// follows the field as it is edited, and is checked again when the edit is
// finished. Unticking writes them too, with the switch off. Owned by the
// check box.
class CaptureFilterRow : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(CaptureFilterRow)

public:
    CaptureFilterRow(QCheckBox* box, QLineEdit* field, QLabel* error);

    // Puts the expression in the field and ticks the box, checked as a
    // user's tick is.
    void preset(const QString& expression);

private:
    void toggled(bool on);
    // Shows libpcap's reason beside the field, or hides it for none.
    void show_error(const std::optional<QString>& reason);

    QCheckBox* m_box;
    QLineEdit* m_field;
    QLabel* m_error;
};
