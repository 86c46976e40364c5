// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProcess;
class QPushButton;
class QSpinBox;

// Asks where to capture remotely: host, port, user, interface and whether
// tcpdump runs through sudo there, and makes an ssh:// source of them. The
// interfaces can be listed from the host (tcpdump -D over ssh). OK is
// enabled only while the fields make a valid source.
class RemoteCaptureDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(RemoteCaptureDialog)

public:
    explicit RemoteCaptureDialog(QWidget* parent = nullptr);
    ~RemoteCaptureDialog() override;

    // The ssh:// source the fields make; empty when they make none.
    QString source() const;
    // Fills the fields from a valid source; others are ignored.
    void set_source(const QString& source);

private:
    void update_state();
    void list_interfaces();
    // Keeps what the listing's ssh wrote to the channel, up to a limit; at
    // the limit ssh is ended.
    void take_listing(bool errors);
    void show_interfaces(int exit_code);

    QLineEdit* m_host;
    QSpinBox* m_port;
    QLineEdit* m_user;
    QComboBox* m_interface;
    QPushButton* m_list;
    QCheckBox* m_sudo;
    QLabel* m_status;
    QDialogButtonBox* m_buttons;
    QProcess* m_ssh = nullptr; // while the interfaces are being listed
    QByteArray m_listed; // what it wrote so far, and
    QByteArray m_list_errors; // what it said
    bool m_list_cut = false; // whether it was ended for writing too much
};
