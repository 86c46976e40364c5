// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlskeylog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>

namespace {

// Longer than any line of a known label (with room for stray spaces): a
// longer one is malformed, and not kept in memory while it lasts.
constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kReadChunk = std::size_t(1) << 20;

struct Label
{
    const char* name;
    std::size_t length;
    TlsSecrets::Label label;
};
constexpr Label kLabels[] = {
    { "CLIENT_RANDOM", 13, TlsSecrets::MasterSecret },
    { "CLIENT_HANDSHAKE_TRAFFIC_SECRET", 31, TlsSecrets::ClientHandshake },
    { "SERVER_HANDSHAKE_TRAFFIC_SECRET", 31, TlsSecrets::ServerHandshake },
    { "CLIENT_TRAFFIC_SECRET_0", 23, TlsSecrets::ClientTraffic },
    { "SERVER_TRAFFIC_SECRET_0", 23, TlsSecrets::ServerTraffic },
};

// Hex digit values, 0xff for other characters.
struct HexTable
{
    std::uint8_t value[256];
    constexpr HexTable()
        : value()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = 0xff;
        for (int i = 0; i < 10; ++i)
            value['0' + i] = static_cast<std::uint8_t>(i);
        for (int i = 0; i < 6; ++i) {
            value['a' + i] = static_cast<std::uint8_t>(10 + i);
            value['A' + i] = static_cast<std::uint8_t>(10 + i);
        }
    }
};
constexpr HexTable kHex;

// Decodes `digits` hex digits into out; false on a character that is none.
bool decode_hex(const char* text, std::size_t digits, std::uint8_t* out)
{
    std::uint8_t bad = 0;
    for (std::size_t i = 0; i < digits / 2; ++i) {
        const std::uint8_t high = kHex.value[static_cast<unsigned char>(text[2 * i])];
        const std::uint8_t low = kHex.value[static_cast<unsigned char>(text[2 * i + 1])];
        bad |= (high | low) & 0xf0;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bad == 0;
}

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

bool is_label_character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::uint64_t hash_of(const std::array<std::uint8_t, 32>& random, int label)
{
    std::uint64_t hash = 0;
    std::memcpy(&hash, random.data(), sizeof hash);
    // Randoms are random: their first bytes spread well by themselves.
    return (hash ^ (std::uint64_t(label) * 0x9e3779b97f4a7c15ULL)) * 0xff51afd7ed558ccdULL;
}

} // namespace

TlsKeyLog::TlsKeyLog() = default;

TlsKeyLog::~TlsKeyLog() = default;

void TlsKeyLog::forget()
{
    m_partial.clear();
    m_overlong = false;
}

bool TlsKeyLog::open(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info
    {
    };
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = fd < 0 ? errno : EINVAL;
        if (fd >= 0)
            ::close(fd);
        if (error != nullptr)
            *error = QCoreApplication::translate("TlsKeyLog", "无法读取密钥日志 %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(code)));
        return false;
    }
    ::close(fd);
    m_path = path;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_position = 0;
    forget();
    update();
    return true;
}

bool TlsKeyLog::update()
{
    if (m_path.isEmpty())
        return false;
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    if (info.st_dev != m_device || info.st_ino != m_inode || info.st_size < m_position) {
        // Replaced, or cut and written anew: all of it again.
        m_device = info.st_dev;
        m_inode = info.st_ino;
        m_position = 0;
        forget();
    }
    const std::size_t before = m_entries.size();
    std::vector<char, CleansingAllocator<char>> chunk(kReadChunk);
    bool changed = false;
    for (;;) {
        const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), m_position);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        m_position += got;
        const std::size_t replaced = m_replaced;
        add(chunk.data(), static_cast<std::size_t>(got));
        changed |= m_replaced != replaced;
    }
    ::close(fd);
    return changed || m_entries.size() != before;
}

void TlsKeyLog::add(const char* data, std::size_t size)
{
    const char* at = data;
    const char* const end = data + size;
    while (at < end) {
        const char* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        const char* line_end = newline != nullptr ? newline : end;
        if (m_overlong) {
            // The rest of a line too long to read.
        } else if (!m_partial.empty() || newline == nullptr) {
            if (m_partial.size() + static_cast<std::size_t>(line_end - at) > kMaxLine) {
                m_partial.clear();
                m_overlong = true;
                ++m_malformed;
            } else {
                m_partial.insert(m_partial.end(), at, line_end);
                if (newline != nullptr)
                    take_line(m_partial.data(), m_partial.data() + m_partial.size());
            }
        } else if (static_cast<std::size_t>(line_end - at) > kMaxLine) {
            ++m_malformed;
        } else {
            take_line(at, line_end);
        }
        if (newline == nullptr)
            break;
        m_partial.clear();
        m_overlong = false;
        at = newline + 1;
    }
}

void TlsKeyLog::finish()
{
    if (!m_partial.empty() && !m_overlong)
        take_line(m_partial.data(), m_partial.data() + m_partial.size());
    forget();
}

void TlsKeyLog::take_line(const char* begin, const char* end)
{
    while (begin < end && is_space(*begin))
        ++begin;
    while (end > begin && is_space(end[-1]))
        --end;
    if (begin == end || *begin == '#')
        return;
    const char* label_end = begin;
    while (label_end < end && is_label_character(*label_end))
        ++label_end;
    if (label_end == begin || (label_end < end && !is_space(*label_end))) {
        ++m_malformed;
        return;
    }
    const auto label = std::find_if(std::begin(kLabels), std::end(kLabels), [&](const Label& l) {
        return l.length == static_cast<std::size_t>(label_end - begin)
                && std::memcmp(l.name, begin, l.length) == 0;
    });
    if (label == std::end(kLabels))
        return; // a label we do not use
    // Two fields of hex digits.
    const char* fields[2] = {};
    std::size_t lengths[2] = {};
    const char* at = label_end;
    for (int i = 0; i < 2; ++i) {
        while (at < end && is_space(*at))
            ++at;
        fields[i] = at;
        while (at < end && !is_space(*at))
            ++at;
        lengths[i] = static_cast<std::size_t>(at - fields[i]);
    }
    const std::size_t secret_digits = lengths[1];
    const bool sized = label->label == TlsSecrets::MasterSecret
            ? secret_digits == 96
            : secret_digits == 64 || secret_digits == 96;
    Entry entry {};
    if (at != end || lengths[0] != 64 || !sized || !decode_hex(fields[0], 64, entry.random.data())
        || !decode_hex(fields[1], secret_digits, entry.secret.bytes.data())) {
        ++m_malformed;
        return;
    }
    entry.label = static_cast<std::uint8_t>(label->label);
    entry.secret.length = static_cast<std::uint8_t>(secret_digits / 2);
    put(entry);
}

std::int64_t TlsKeyLog::lookup(const std::array<std::uint8_t, 32>& random, int label) const
{
    if (m_slots.empty())
        return -1;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash_of(random, label) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = m_slots[slot];
        if (index == 0)
            return -1;
        const Entry& entry = m_entries[index - 1];
        if (entry.label == label && entry.random == random)
            return index - 1;
    }
}

void TlsKeyLog::grow_slots()
{
    std::vector<std::uint32_t> table(std::max<std::size_t>(64, m_slots.size() * 2), 0);
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        std::size_t slot = hash_of(m_entries[i].random, m_entries[i].label) & mask;
        while (table[slot] != 0)
            slot = (slot + 1) & mask;
        table[slot] = static_cast<std::uint32_t>(i + 1);
    }
    m_slots.swap(table);
}

void TlsKeyLog::put(const Entry& entry)
{
    const std::int64_t known = lookup(entry.random, entry.label);
    if (known >= 0) {
        if (m_entries[static_cast<std::size_t>(known)].secret.bytes != entry.secret.bytes
            || m_entries[static_cast<std::size_t>(known)].secret.length != entry.secret.length)
            ++m_replaced;
        m_entries[static_cast<std::size_t>(known)].secret = entry.secret;
        return;
    }
    if (m_entries.size() >= UINT32_MAX - 1)
        return;
    if ((m_entries.size() + 1) * 2 > m_slots.size())
        grow_slots();
    m_entries.push_back(entry);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t slot = hash_of(entry.random, entry.label) & mask;
    while (m_slots[slot] != 0)
        slot = (slot + 1) & mask;
    m_slots[slot] = static_cast<std::uint32_t>(m_entries.size());
}

TlsSecrets TlsKeyLog::find(const std::array<std::uint8_t, 32>& client_random) const
{
    TlsSecrets secrets;
    for (int label = 0; label < TlsSecrets::kLabels; ++label) {
        const std::int64_t index = lookup(client_random, label);
        if (index >= 0)
            secrets.secrets[static_cast<std::size_t>(label)]
                    = m_entries[static_cast<std::size_t>(index)].secret;
    }
    return secrets;
}

bool TlsKeyLog::contains(const std::array<std::uint8_t, 32>& client_random) const
{
    for (int label = 0; label < TlsSecrets::kLabels; ++label)
        if (lookup(client_random, label) >= 0)
            return true;
    return false;
}
