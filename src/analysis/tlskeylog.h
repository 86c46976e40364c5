// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

#include "tlssecret.h"

// The secrets of TLS connections, as the libraries write them to a key log
// (SSLKEYLOGFILE, -keylogfile) in the NSS format, one a line:
//   CLIENT_RANDOM <client random> <master secret>           TLS 1.2
//   CLIENT_HANDSHAKE_TRAFFIC_SECRET <client random> <secret> TLS 1.3, and
//   SERVER_HANDSHAKE_TRAFFIC_SECRET, CLIENT_TRAFFIC_SECRET_0,
//   SERVER_TRAFFIC_SECRET_0
// in hex, the client random 32 bytes, a master secret 48, a TLS 1.3 secret
// 32 or 48. Blank lines, comments (#) and other labels are skipped; a line
// of one of these labels that does not read so, or a line that begins with
// no label at all, is skipped and counted as malformed. A later line for the
// same connection and label replaces the earlier secret.
//
// The secrets are held in memory only, in storage that is wiped
// (OPENSSL_cleanse) whenever it is given back, the log's own end included;
// so are the bytes read from the file. Lookups are by client random,
// constant time; about 90 bytes a line kept.
class TlsKeyLog
{
public:
    TlsKeyLog();
    ~TlsKeyLog();
    TlsKeyLog(const TlsKeyLog&) = delete;
    TlsKeyLog& operator=(const TlsKeyLog&) = delete;

    // Reads the file from its start and remembers it for update(). False,
    // with the reason in *error, when it cannot be read; what was kept
    // before stays.
    bool open(const QString& path, QString* error = nullptr);
    QString path() const { return m_path; }
    // Takes the lines appended to the file since the last read (a line
    // without its newline yet waits for it). A file that was replaced or cut
    // shorter is read again from its start. Returns whether secrets came.
    bool update();
    // Takes lines from memory, as if read from a file: a last line without
    // a newline waits for the next call (finish() takes it).
    void add(const char* data, std::size_t size);
    // The last line, also without a newline.
    void finish();

    // What the log holds for the connection of this client random; empty
    // secrets where it holds none.
    TlsSecrets find(const std::array<std::uint8_t, 32>& client_random) const;
    bool contains(const std::array<std::uint8_t, 32>& client_random) const;

    std::size_t secret_count() const { return m_entries.size(); }
    std::size_t malformed_lines() const { return m_malformed; }

private:
    struct Entry
    {
        std::array<std::uint8_t, 32> random;
        std::uint8_t label; // TlsSecrets::Label
        TlsSecret secret;
    };
    void take_line(const char* begin, const char* end);
    // Keeps the secret, replacing one of the same random and label.
    void put(const Entry& entry);
    // The index of the entry of this random and label, or -1.
    std::int64_t lookup(const std::array<std::uint8_t, 32>& random, int label) const;
    void grow_slots();
    void forget();

    std::vector<Entry, CleansingAllocator<Entry>> m_entries;
    // Open addressing: entry index + 1 (0: empty), a power of two long.
    std::vector<std::uint32_t> m_slots;
    std::vector<char, CleansingAllocator<char>> m_partial; // a line waiting for its end
    bool m_overlong = false; // m_partial is a line too long to be one; skip to its end
    std::size_t m_malformed = 0;
    std::size_t m_replaced = 0; // secrets that a later line changed

    QString m_path;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::int64_t m_position = 0;
};
