// SPDX-License-Identifier: GPL-2.0-or-later

// tarnlook-capture: the only part of Tarnlook that holds the privilege to
// capture. It opens one network interface with the capture settings of the
// window, gives up every privilege, and writes the frames to its standard
// output in pcap format, for the unprivileged window to read.
//
//   tarnlook-capture -i INTERFACE [-f FILTER]
//
// It stops when its standard input closes or it gets SIGTERM, SIGINT or
// SIGHUP (exit status 0), when the interface fails or the output closes (1),
// on a bad command line or filter (2), and when it may not capture (77).
// Every failure leaves one line on standard error: libpcap's reason, or ours.
// A stop leaves the kernel's counts instead, as libpcap gives them:
// "tarnlook-capture: received R dropped D".
//
// Plain C++ and libpcap on purpose: nothing here loads plugins, reads
// settings or looks at the environment, and nothing takes a path.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <grp.h>
#include <linux/capability.h>
#include <net/if.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <pcap/pcap.h>

namespace {

// The window's settings for a live capture.
constexpr int kSnapLength = 262144; // whole frames, as tcpdump captures
// Frames reach the window within this much of their capture (see the
// window's own adapter opening).
constexpr int kReadTimeoutMs = 20;
constexpr int kBufferBytes = 32 << 20;
// How often the loop looks at its stop conditions while the interface is
// quiet; a signal usually cuts the wait short.
constexpr int kWakeMs = 250;
constexpr std::size_t kMaxFilterBytes = 4096;

constexpr int kExitStopped = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoPermission = 77; // EX_NOPERM of sysexits.h

// libpcap sources that are not network interfaces, by the name prefixes
// libpcap routes to them. Opening "dbus-session" would make libpcap start
// dbus-launch; the monitors read other users' Bluetooth and USB traffic.
constexpr const char* kRefusedPrefixes[]
        = { "dbus", "bluetooth", "usbmon", "nflog", "nfqueue", "rpcap" };

volatile std::sig_atomic_t g_stop = 0;

void request_stop(int)
{
    g_stop = 1;
}

[[noreturn]] void fail(int status, const std::string& message)
{
    std::fprintf(stderr, "tarnlook-capture: %s\n", message.c_str());
    std::exit(status);
}

[[noreturn]] void usage(const std::string& message)
{
    fail(kExitUsage, message + "\nusage: tarnlook-capture -i INTERFACE [-f FILTER]");
}

struct Options
{
    std::string interface;
    std::string filter;
    bool has_filter = false;
};

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Only names that the kernel could give a network interface, and only
// interfaces that exist now (or libpcap's "any").
void check_interface(const std::string& name)
{
    if (name.empty() || name.size() >= IFNAMSIZ)
        usage("interface name must have 1 to " + std::to_string(IFNAMSIZ - 1) + " characters");
    for (const char c : name)
        if (c <= ' ' || c > '~' || c == '/' || c == ':')
            usage("interface name has a character that no interface name has");
    if (name == "." || name == ".." || name.front() == '-')
        usage("not an interface name: " + name);
    for (const char* prefix : kRefusedPrefixes)
        if (starts_with(name, prefix))
            usage("not a network interface: " + name);
    if (name != "any" && if_nametoindex(name.c_str()) == 0)
        fail(kExitFailed, name + ": no such network interface");
}

void check_filter(const std::string& filter)
{
    if (filter.size() > kMaxFilterBytes)
        usage("filter longer than " + std::to_string(kMaxFilterBytes) + " bytes");
    for (const char c : filter)
        if (c < ' ' || c > '~')
            usage("filter has a character outside printable ASCII");
}

Options parse_command_line(int argc, char** argv)
{
    Options options;
    bool has_interface = false;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option != "-i" && option != "-f")
            usage("unknown argument: " + option);
        if (i + 1 >= argc)
            usage(option + " needs a value");
        bool& seen = option == "-i" ? has_interface : options.has_filter;
        if (seen)
            usage(option + " given twice");
        seen = true;
        (option == "-i" ? options.interface : options.filter) = argv[i + 1];
    }
    if (!has_interface)
        usage("-i INTERFACE is required");
    check_interface(options.interface);
    if (options.has_filter)
        check_filter(options.filter);
    return options;
}

// Opens the interface as the window would. Everything that needs the
// privilege happens here.
pcap_t* open_interface(const std::string& name)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(name.c_str(), errbuf);
    if (handle == nullptr)
        fail(kExitFailed, errbuf);
    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_promisc(handle, 1);
    pcap_set_timeout(handle, kReadTimeoutMs);
    pcap_set_buffer_size(handle, kBufferBytes);
    const int status = pcap_activate(handle);
    if (status >= 0)
        return handle;
    // For these codes libpcap leaves its own text; for the others it may not.
    const bool own_text = status == PCAP_ERROR || status == PCAP_ERROR_NO_SUCH_DEVICE
            || status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
    std::string reason = own_text ? pcap_geterr(handle) : "";
    if (reason.empty())
        reason = pcap_statustostr(status);
    pcap_close(handle);
    const bool denied
            = status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
    fail(denied ? kExitNoPermission : kExitFailed, reason);
}

// Gives up what installation handed over: a set-user-ID or set-group-ID
// identity, and every capability. Afterwards nothing can bring them back,
// not even an exec (no_new_privs).
void drop_privileges()
{
    const gid_t gid = getgid();
    const uid_t uid = getuid();
    if (geteuid() == 0 && uid != 0 && setgroups(0, nullptr) != 0)
        fail(kExitFailed, std::string("setgroups: ") + std::strerror(errno));
    if (setresgid(gid, gid, gid) != 0)
        fail(kExitFailed, std::string("setresgid: ") + std::strerror(errno));
    if (setresuid(uid, uid, uid) != 0)
        fail(kExitFailed, std::string("setresuid: ") + std::strerror(errno));

    // Older kernels know no ambient set; then there is nothing to clear.
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        fail(kExitFailed, std::string("clearing ambient capabilities: ") + std::strerror(errno));
    __user_cap_header_struct header {};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0)
        fail(kExitFailed, std::string("capset: ") + std::strerror(errno));
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        fail(kExitFailed, std::string("no_new_privs: ") + std::strerror(errno));

    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, left) != 0)
        fail(kExitFailed, std::string("capget: ") + std::strerror(errno));
    for (const __user_cap_data_struct& set : left)
        if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0)
            fail(kExitFailed, "capabilities are still held after dropping them");
}

void apply_filter(pcap_t* handle, const std::string& expression)
{
    bpf_program program {};
    if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        fail(kExitUsage, std::string("filter: ") + pcap_geterr(handle));
    const int status = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (status != 0)
        fail(kExitFailed, std::string("filter: ") + pcap_geterr(handle));
}

void install_signal_handlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a full pipe returns, so that the
    // loop can end.
    for (const int signal_number : { SIGTERM, SIGINT, SIGHUP })
        sigaction(signal_number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a closed reader shows as EPIPE
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
}

// True when standard input has been closed (or has failed).
bool input_closed()
{
    char discard[256];
    const ssize_t got = read(STDIN_FILENO, discard, sizeof discard);
    return got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN);
}

int capture(pcap_t* handle)
{
    pcap_dumper_t* dumper = pcap_dump_fopen(handle, stdout);
    if (dumper == nullptr)
        fail(kExitFailed, std::string("output: ") + pcap_geterr(handle));
    // The file header now, so that the reader can start before any frame.
    if (pcap_dump_flush(dumper) != 0)
        fail(kExitFailed, std::string("output: ") + std::strerror(errno));

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap_setnonblock(handle, 1, errbuf) != 0)
        fail(kExitFailed, errbuf);
    const int capture_fd = pcap_get_selectable_fd(handle);
    while (g_stop == 0) {
        pollfd fds[2] = {};
        fds[0].fd = capture_fd;
        fds[0].events = POLLIN;
        fds[1].fd = STDIN_FILENO;
        fds[1].events = POLLIN;
        if (poll(fds, 2, kWakeMs) < 0 && errno != EINTR)
            fail(kExitFailed, std::string("poll: ") + std::strerror(errno));
        if (g_stop != 0)
            break;
        if (fds[1].revents != 0 && input_closed())
            break;
        const int frames = pcap_dispatch(handle, -1, pcap_dump, reinterpret_cast<u_char*>(dumper));
        if (frames == PCAP_ERROR)
            fail(kExitFailed, pcap_geterr(handle));
        if (frames > 0 && pcap_dump_flush(dumper) != 0) {
            if (g_stop != 0)
                break; // the signal cut a write short
            fail(kExitFailed, std::string("output: ") + std::strerror(errno));
        }
    }
    // Frames already written stay whole; what is left in the buffer is cut
    // short only when the reader is gone.
    pcap_dump_flush(dumper);
    // What the kernel had to drop, for the window to tell after the stop.
    pcap_stat stats {};
    if (pcap_stats(handle, &stats) == 0)
        std::fprintf(stderr, "tarnlook-capture: received %u dropped %u\n", stats.ps_recv,
                     stats.ps_drop);
    return kExitStopped;
}

} // namespace

int main(int argc, char** argv)
{
    // Nothing from the caller's environment reaches libpcap or the C
    // library; there are no further file descriptors to inherit either.
    clearenv();
    closefrom(STDERR_FILENO + 1);
    install_signal_handlers();

    const Options options = parse_command_line(argc, argv);
    pcap_t* handle = open_interface(options.interface);
    drop_privileges();
    // The window's end ends the capture too. Set only now: exec with
    // capabilities and the change of identity both clear it.
    prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
    if (options.has_filter)
        apply_filter(handle, options.filter);
    const int status = capture(handle);
    pcap_close(handle);
    return status;
}
