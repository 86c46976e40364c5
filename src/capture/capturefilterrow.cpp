// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturefilterrow.h"

#include <optional>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "filtersettings.h"
#include "pcapfilter.h"

CaptureFilterRow::CaptureFilterRow(QCheckBox* box, QLineEdit* field, QLabel* error)
    : QObject(box)
    , m_box(box)
    , m_field(field)
    , m_error(error)
{
    // Readable on the light and the dark theme alike.
    m_error->setStyleSheet(QStringLiteral("QLabel { color: #d9363e; }"));
    m_error->setWordWrap(true);
    m_error->setTextFormat(Qt::PlainText);
    m_error->hide();
    connect(m_box, &QCheckBox::toggled, this, &CaptureFilterRow::toggled);
    // While ticked, the expression in force is the one shown. It is checked
    // when the user is done with it rather than at every key: an expression
    // that names a host asks the resolver. One that fails stays ticked with
    // the reason beside it, so that the next start refuses it aloud instead
    // of capturing unfiltered. A reason stays until the expression changes.
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_error->hide();
        if (m_box->isChecked())
            g_filter_settings.capture_filter = text;
    });
    connect(m_field, &QLineEdit::editingFinished, this, [this] {
        if (m_box->isChecked())
            show_error(capture_filter_error(m_field->text()));
    });
}

void CaptureFilterRow::preset(const QString& expression)
{
    m_field->setText(expression);
    m_field->setCursorPosition(0); // a long expression shows its start
    if (m_box->isChecked())
        toggled(true); // read the new text
    else
        m_box->setChecked(true);
}

void CaptureFilterRow::toggled(bool on)
{
    if (on) {
        const std::optional<QString> reason = capture_filter_error(m_field->text());
        show_error(reason);
        if (reason) {
            m_box->setChecked(false); // writes the settings, switched off
            return;
        }
    }
    g_filter_settings.capture_filter_on = m_box->isChecked();
    g_filter_settings.capture_filter = m_field->text();
}

void CaptureFilterRow::show_error(const std::optional<QString>& reason)
{
    if (reason)
        m_error->setText(tr("捕获过滤表达式有误：%1").arg(*reason));
    m_error->setVisible(reason.has_value());
}
