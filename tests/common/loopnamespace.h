// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// The test programs that capture real traffic do it on the lo of a network
// namespace of their own, so that nothing they send leaves it and nothing
// else is captured.

#include <cerrno>
#include <cstring>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>

namespace loopnamespace {

struct Lo
{
    int mtu = 0; // 0: as it comes (65536)
    bool offloads = true; // false: no segmentation offloads (segments as a network carries them)
};

// Moves this process into a network namespace of its own (threads and
// processes started from here on share it) and brings its lo up as asked.
// Empty when done; else why: *refused when the namespace was refused (no
// root or CAP_SYS_ADMIN: the caller skips), otherwise lo would not come up.
inline QString enter(Lo lo = {}, bool* refused = nullptr)
{
    if (refused != nullptr)
        *refused = false;
    if (unshare(CLONE_NEWNET) != 0) {
        if (refused != nullptr)
            *refused = true;
        return QStringLiteral("a network namespace of its own is needed (root or "
                              "CAP_SYS_ADMIN): ")
                + QString::fromLocal8Bit(strerror(errno));
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request {};
    std::strcpy(request.ifr_name, "lo");
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (lo.mtu != 0) {
        request.ifr_mtu = lo.mtu;
        up = up && ioctl(fd, SIOCSIFMTU, &request) == 0;
    }
    if (!lo.offloads)
        for (const std::uint32_t command : { ETHTOOL_STSO, ETHTOOL_SGSO }) {
            ethtool_value off { command, 0 };
            request.ifr_data = reinterpret_cast<char*>(&off);
            up = up && ioctl(fd, SIOCETHTOOL, &request) == 0;
        }
    close(fd);
    return up ? QString()
              : QStringLiteral("lo of the new namespace does not come up as set (MTU %1)")
                        .arg(lo.mtu);
}

} // namespace loopnamespace
