// SPDX-License-Identifier: GPL-2.0-or-later

#include "remotecapturedialog.h"

#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "sshcapturesource.h"

namespace {

constexpr int kDefaultPort = 22;
// What is kept of each of the listing's outputs, at most: a host's real
// list takes a few KiB; anything past this is a host that would flood the
// dialog.
constexpr int kMaxListingBytes = 64 * 1024;
constexpr int kStatusLines = 4;

} // namespace

RemoteCaptureDialog::RemoteCaptureDialog(QWidget* parent)
    : QDialog(parent)
    , m_host(new QLineEdit(this))
    , m_port(new QSpinBox(this))
    , m_user(new QLineEdit(this))
    , m_interface(new QComboBox(this))
    , m_list(new QPushButton(tr("列出网卡"), this))
    , m_sudo(new QCheckBox(tr("用sudo"), this))
    , m_status(new QLabel(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("远程抓包"));
    m_host->setObjectName(QStringLiteral("host"));
    m_host->setPlaceholderText(tr("主机名或地址"));
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setRange(1, 65535);
    m_port->setValue(kDefaultPort);
    m_user->setObjectName(QStringLiteral("user"));
    m_user->setPlaceholderText(tr("默认: ssh的设置"));
    m_interface->setObjectName(QStringLiteral("interface"));
    m_interface->setEditable(true);
    m_interface->setMinimumContentsLength(16);
    m_list->setObjectName(QStringLiteral("list"));
    m_sudo->setObjectName(QStringLiteral("sudo"));
    m_sudo->setToolTip(tr("在远程主机上用 sudo -n 运行tcpdump(需要不用密码的sudo)"));
    m_status->setObjectName(QStringLiteral("status"));
    // It shows names from the remote host, and what it said: never as rich
    // text.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* interface_row = new QHBoxLayout;
    interface_row->addWidget(m_interface, 1);
    interface_row->addWidget(m_list);
    auto* form = new QFormLayout;
    form->addRow(tr("主机:"), m_host);
    form->addRow(tr("端口:"), m_port);
    form->addRow(tr("用户:"), m_user);
    form->addRow(tr("网卡:"), interface_row);
    form->addRow(QString(), m_sudo);
    m_status->setMinimumWidth(420);
    // Room for a few lines of what ssh said, from the start: the dialog
    // keeps its size, and its fields and buttons their places, whatever
    // the status says (a longer one scrolls).
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* status_area = new QScrollArea(this);
    status_area->setObjectName(QStringLiteral("statusArea"));
    // Part of the dialog, not a box of its own, in any theme.
    status_area->setStyleSheet(
            QStringLiteral("#statusArea { border: none; background: transparent; }"));
    status_area->viewport()->setAutoFillBackground(false);
    m_status->setAutoFillBackground(false);
    status_area->setFrameShape(QFrame::NoFrame);
    status_area->setFocusPolicy(Qt::NoFocus); // Tab goes from field to button as before
    status_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    status_area->setWidgetResizable(true);
    status_area->setWidget(m_status);
    // As high as the label makes that many lines, in this style.
    m_status->ensurePolished();
    m_status->setText(QString(kStatusLines - 1, QLatin1Char('\n')));
    status_area->setFixedHeight(m_status->heightForWidth(m_status->minimumWidth())
                                + 2 * status_area->frameWidth());
    m_status->clear();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_area);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QPushButton::clicked, this, &RemoteCaptureDialog::list_interfaces);
    for (QLineEdit* field : { m_host, m_user })
        connect(field, &QLineEdit::textChanged, this, &RemoteCaptureDialog::update_state);
    connect(m_interface, &QComboBox::editTextChanged, this, &RemoteCaptureDialog::update_state);
    connect(m_port, qOverload<int>(&QSpinBox::valueChanged), this,
            &RemoteCaptureDialog::update_state);
    connect(m_sudo, &QCheckBox::toggled, this, &RemoteCaptureDialog::update_state);
    update_state();
}

// The listing's ssh, if still running, is killed with its QProcess; what
// that process says as it ends must reach no part of the dialog, which is
// half gone by then.
RemoteCaptureDialog::~RemoteCaptureDialog()
{
    if (m_ssh != nullptr)
        m_ssh->disconnect(this);
}

QString RemoteCaptureDialog::source() const
{
    SshCaptureSource::Target target;
    target.host = m_host->text().trimmed();
    target.user = m_user->text().trimmed();
    target.port = m_port->value() == kDefaultPort ? 0 : m_port->value();
    target.interface = m_interface->currentText().trimmed();
    target.sudo = m_sudo->isChecked();
    const QString name = SshCaptureSource::source_name(target);
    // Each field as the source checks it, from the name it makes.
    return SshCaptureSource::parse(name) ? name : QString();
}

void RemoteCaptureDialog::set_source(const QString& source)
{
    const std::optional<SshCaptureSource::Target> target = SshCaptureSource::parse(source);
    if (!target)
        return;
    m_host->setText(target->host);
    m_port->setValue(target->port > 0 ? target->port : kDefaultPort);
    m_user->setText(target->user);
    m_interface->setEditText(target->interface);
    m_sudo->setChecked(target->sudo);
}

void RemoteCaptureDialog::update_state()
{
    const QString name = source();
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!name.isEmpty());
    m_list->setEnabled(m_ssh == nullptr && !m_host->text().trimmed().isEmpty());
    if (m_ssh != nullptr)
        return;
    QString why;
    if (!name.isEmpty())
        m_status->setText(name);
    else if (!m_host->text().trimmed().isEmpty() && !m_interface->currentText().isEmpty()) {
        SshCaptureSource::Target target;
        target.host = m_host->text().trimmed();
        target.user = m_user->text().trimmed();
        target.interface = m_interface->currentText().trimmed();
        static_cast<void>(SshCaptureSource::parse(SshCaptureSource::source_name(target), &why));
        m_status->setText(why);
    } else {
        m_status->clear();
    }
}

void RemoteCaptureDialog::list_interfaces()
{
    SshCaptureSource::Target target;
    target.host = m_host->text().trimmed();
    target.user = m_user->text().trimmed();
    target.port = m_port->value() == kDefaultPort ? 0 : m_port->value();
    target.interface = QStringLiteral("any"); // any name: only the login is checked
    target.sudo = m_sudo->isChecked();
    QString why;
    if (!SshCaptureSource::parse(SshCaptureSource::source_name(target), &why)) {
        m_status->setText(why);
        return;
    }
    m_ssh = new QProcess(this);
    m_listed.clear();
    m_list_errors.clear();
    m_list_cut = false;
    connect(m_ssh, &QProcess::readyReadStandardOutput, this, [this] { take_listing(false); });
    connect(m_ssh, &QProcess::readyReadStandardError, this, [this] { take_listing(true); });
    connect(m_ssh, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int exit_code, QProcess::ExitStatus status) {
                show_interfaces(status == QProcess::NormalExit ? exit_code : -1);
            });
    connect(m_ssh, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_status->setText(tr("无法运行ssh: %1").arg(m_ssh->errorString()));
            m_ssh->deleteLater();
            m_ssh = nullptr;
            update_state();
        }
    });
    m_status->setText(tr("正在列出远程网卡..."));
    m_list->setEnabled(false);
    m_ssh->start(QStringLiteral("ssh"),
                 SshCaptureSource::ssh_arguments(target, SshCaptureSource::list_command(target)));
    m_ssh->closeWriteChannel();
}

void RemoteCaptureDialog::take_listing(bool errors)
{
    QByteArray& kept = errors ? m_list_errors : m_listed;
    const QByteArray got = errors ? m_ssh->readAllStandardError() : m_ssh->readAllStandardOutput();
    kept += got.left(kMaxListingBytes - kept.size());
    if (kept.size() < kMaxListingBytes || m_list_cut)
        return;
    m_list_cut = true;
    m_ssh->kill();
}

void RemoteCaptureDialog::show_interfaces(int exit_code)
{
    take_listing(false);
    take_listing(true);
    const QStringList names = SshCaptureSource::parse_interface_list(m_listed);
    const QString errors = QString::fromLocal8Bit(m_list_errors);
    const bool cut = m_list_cut;
    m_ssh->deleteLater();
    m_ssh = nullptr;
    m_listed.clear();
    m_list_errors.clear();
    if ((exit_code == 0 || cut) && !names.isEmpty()) {
        const QString typed = m_interface->currentText();
        m_interface->clear();
        m_interface->addItems(names);
        const int index = m_interface->findText(typed);
        m_interface->setCurrentIndex(index >= 0 ? index : 0);
        update_state();
        m_status->setText(
                cut ? tr("找到 %1 个网卡 (远程主机的回答过长, 只读了开头)").arg(names.size())
                    : tr("找到 %1 个网卡").arg(names.size()));
        return;
    }
    update_state();
    SshCaptureSource::Problem problem = SshCaptureSource::classify(errors, exit_code, false);
    if (problem == SshCaptureSource::Problem::None)
        problem = SshCaptureSource::Problem::Other;
    m_status->setText(SshCaptureSource::problem_text(problem, errors));
}
