// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The program's command line, in the peer tools' conventions:
//   tarnlook [FILE]            open a capture file at start
//   tarnlook -i ADAPTER [-k]   choose the adapter (or ssh://[user@]host[:port]/if
//                              of another host); -k starts capturing at once
//   tarnlook --hex FILE        the hex editor alone, over FILE
//   --tls-keylog FILE          decrypt TLS with the secrets of this key log
//   --help, --version
// To add an option: declare it in the constructor and read it in parse().
class CommandLine
{
public:
    enum class Outcome { Run, Exit };

    // Needs the application object (for the name and version it prints), and
    // the translator installed: the texts are translated as they are built.
    CommandLine();

    // Parses arguments (the program name first). Exit: the program ends at
    // once with exitCode(), after printing output() (to stderr when the code
    // is not 0).
    Outcome parse(const QStringList& arguments);

    int exitCode() const { return m_exit_code; }
    QString output() const { return m_output; }

    QString file; // to open at start; empty: none
    QString adapter; // -i; empty: none
    bool start_capture = false; // -k
    QString hex_file; // --hex; empty: none
    QString tls_keylog; // --tls-keylog; empty: none

private:
    Outcome fail(const QString& message);

    QCommandLineParser m_parser;
    QCommandLineOption m_adapter_option;
    QCommandLineOption m_start_option;
    QCommandLineOption m_hex_option;
    QCommandLineOption m_keylog_option;
    QCommandLineOption m_help_option;
    QCommandLineOption m_version_option;
    int m_exit_code = 0;
    QString m_output;
};
