// SPDX-License-Identifier: GPL-2.0-or-later

#include "quitsignals.h"

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace {

// The handler may only write to a descriptor; the event loop reads the other
// end.
int g_signal_fds[2] = { -1, -1 };

extern "C" void on_quit_signal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signal_fds[0], &byte, 1);
}

void set_handler(void (*handler)(int))
{
    struct sigaction action
    {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

QuitSignals::QuitSignals(QObject* parent)
    : QObject(parent)
{
    // Non-blocking: a burst of signals must never block the handler.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signal_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signal_fds[1], &byte, 1);
        QCoreApplication::quit();
    });
    set_handler(on_quit_signal);
}

QuitSignals::~QuitSignals()
{
    if (m_notifier == nullptr)
        return;
    set_handler(SIG_DFL);
    delete m_notifier;
    ::close(g_signal_fds[0]);
    ::close(g_signal_fds[1]);
    g_signal_fds[0] = g_signal_fds[1] = -1;
}
