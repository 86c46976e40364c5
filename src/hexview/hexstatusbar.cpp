// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexstatusbar.h"

#include <QLabel>
#include <QtEndian>

#include "qhexcursor.h"
#include "qhexdocument.h"

namespace {

QLabel* addLabel(QStatusBar* bar, const char* name, bool permanent)
{
    auto* label = new QLabel(bar);
    label->setObjectName(QLatin1String(name));
    if (permanent)
        bar->addPermanentWidget(label);
    else
        bar->addWidget(label);
    return label;
}

} // namespace

HexStatusBar::HexStatusBar(QWidget* parent)
    : QStatusBar(parent)
    , m_offset(addLabel(this, "statusOffset", false))
    , m_selection(addLabel(this, "statusSelection", false))
    , m_value(addLabel(this, "statusValue", false))
    , m_mode(addLabel(this, "statusMode", true))
    , m_readonly(addLabel(this, "statusReadOnly", true))
{ }

void HexStatusBar::showState(QHexDocument* document, bool readOnly)
{
    m_readonly->setText(readOnly ? tr("只读") : QString());
    m_readonly->setVisible(readOnly);
    if (document == nullptr) {
        for (QLabel* label : { m_offset, m_selection, m_value, m_mode })
            label->clear();
        return;
    }
    const QHexCursor* cursor = document->cursor();
    const qint64 offset = cursor->position().offset();
    m_offset->setText(tr("偏移: 0x%1 (%2)").arg(QString::number(offset, 16).toUpper()).arg(offset));
    m_selection->setText(
            tr("选中: %1 字节").arg(cursor->hasSelection() ? cursor->selectionLength() : 0));

    // Only the bytes there are: a value that would reach past the end is
    // left out.
    const QByteArray bytes = offset >= 0 ? document->read(offset, 4) : QByteArray();
    const QString none = QStringLiteral("-");
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const QString u8 = bytes.size() >= 1 ? QString::number(data[0]) : none;
    const QString s8 = bytes.size() >= 1 ? QString::number(static_cast<qint8>(data[0])) : none;
    const QString u16
            = bytes.size() >= 2 ? QString::number(qFromLittleEndian<quint16>(data)) : none;
    const QString u32
            = bytes.size() >= 4 ? QString::number(qFromLittleEndian<quint32>(data)) : none;
    m_value->setText(tr("u8: %1  s8: %2  u16 LE: %3  u32 LE: %4").arg(u8, s8, u16, u32));
    m_mode->setText(cursor->insertionMode() == InsertMode ? QStringLiteral("INS")
                                                          : QStringLiteral("OVR"));
}

QString HexStatusBar::offsetText() const
{
    return m_offset->text();
}

QString HexStatusBar::selectionText() const
{
    return m_selection->text();
}

QString HexStatusBar::valueText() const
{
    return m_value->text();
}

QString HexStatusBar::modeText() const
{
    return m_mode->text();
}

QString HexStatusBar::readOnlyText() const
{
    return m_readonly->text();
}
