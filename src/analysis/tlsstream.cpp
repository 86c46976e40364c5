// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsstream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/uio.h>
#include <unistd.h>

#include "tcpfollow.h"
#include "tlscipher.h"

namespace {

constexpr std::size_t kHeader = 5;
// The longest fragment TLS allows (2^14 + 2048, TLS 1.2's ciphertext).
constexpr std::size_t kMaxFragment = 16384 + 2048;
// A hello longer than this is not read (no real one comes near it).
constexpr std::size_t kMaxHello = 1 << 17;
// Pieces of one file read in one call when at most this many bytes (the
// frames' headers, an acknowledgement) lie between them.
constexpr std::int64_t kMaxHole = 4096;
constexpr int kMaxVectors = 512;

enum ContentType : std::uint8_t {
    ChangeCipherSpec = 20,
    Alert = 21,
    Handshake = 22,
    ApplicationData = 23,
    Heartbeat = 24,
};

bool plausible_header(const std::uint8_t* header)
{
    const std::size_t length = std::size_t(header[3]) << 8 | header[4];
    return header[0] >= ChangeCipherSpec && header[0] <= Heartbeat && header[1] == 3
            && header[2] <= 4 && length <= kMaxFragment;
}

} // namespace

TlsStream::TlsStream(const TcpFollow& follow, Lookup lookup)
    : m_follow(follow)
    , m_lookup(std::move(lookup))
{
    m_bytes.resize(kHeader + kMaxFragment);
    m_plain.resize(kHeader + kMaxFragment);
}

TlsStream::~TlsStream() = default;

bool TlsStream::resumed() const
{
    if (!m_server_hello || !m_client_hello)
        return false;
    if (m_tls13)
        return m_server_hello->accepts_psk;
    return m_client_hello->session_id_length > 0
            && m_client_hello->session_id_length == m_server_hello->session_id_length
            && m_client_hello->session_id == m_server_hello->session_id;
}

bool TlsStream::advance(std::int64_t budget)
{
    const std::vector<TcpFollow::Piece>& pieces = m_follow.pieces();
    std::int64_t read = 0;
    while (m_next_piece < pieces.size()) {
        read += pieces[m_next_piece].gap ? 0 : pieces[m_next_piece].length;
        take_piece(m_next_piece++);
        if (budget > 0 && read >= budget)
            break;
    }
    return m_next_piece >= pieces.size();
}

void TlsStream::finish()
{
    advance();
    for (int d = 0; d < 2; ++d) {
        Direction& direction = m_directions[static_cast<std::size_t>(d)];
        if (direction.dead || direction.pending_bytes == 0)
            continue;
        if (m_kind != Kind::NotTls && (direction.have_header || direction.lost)) {
            // Cut by the end of the capture: its bytes never came.
            Record record {};
            record.piece = direction.pending.front().piece;
            record.last_piece = direction.pending.back().piece;
            record.piece_offset = direction.pending.front().offset;
            record.length = static_cast<std::uint16_t>(direction.need - kHeader);
            record.direction = static_cast<std::uint8_t>(d);
            record.status = Status::Missing;
            record.type = direction.header[0];
            ++m_counts.missing;
            keep(record);
        }
        direction.pending.clear();
        direction.pending_bytes = 0;
        direction.dead = true;
    }
}

void TlsStream::take_piece(std::uint64_t index)
{
    const TcpFollow::Piece& piece = m_follow.pieces()[index];
    Direction& direction = m_directions[piece.direction];
    if (direction.dead || piece.length == 0)
        return;
    direction.pending.push_back({ index, 0, piece.length, piece.gap != 0 });
    direction.pending_bytes += piece.length;
    drain(static_cast<int>(piece.direction));
}

void TlsStream::consume(Direction& direction, std::uint64_t bytes, std::vector<Span>* taken)
{
    while (bytes > 0 && !direction.pending.empty()) {
        Span& front = direction.pending.front();
        const std::uint32_t part
                = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, front.length));
        if (taken != nullptr)
            taken->push_back({ front.piece, front.offset, part, front.gap });
        bytes -= part;
        direction.pending_bytes -= part;
        if (part == front.length) {
            direction.pending.pop_front();
        } else {
            front.offset += part;
            front.length -= part;
        }
    }
}

bool TlsStream::read_spans(const std::vector<Span>& spans, std::uint8_t* out) const
{
    const std::vector<TcpFollow::Piece>& pieces = m_follow.pieces();
    const std::vector<StoreFile>& files = m_follow.files();
    static thread_local std::uint8_t hole[kMaxHole];
    std::size_t at = 0;
    while (at < spans.size()) {
        // Spans of one file that lie close together: one call.
        iovec vectors[kMaxVectors];
        int used = 0;
        const TcpFollow::Piece& first = pieces[spans[at].piece];
        const std::uint32_t file = first.file;
        const std::int64_t start = first.offset + spans[at].offset;
        std::int64_t end = start;
        for (; at < spans.size() && used + 2 <= kMaxVectors; ++at) {
            const Span& span = spans[at];
            const TcpFollow::Piece& piece = pieces[span.piece];
            if (span.gap)
                return false;
            const std::int64_t from = piece.offset + span.offset;
            if (used > 0) {
                const std::int64_t between = from - end;
                if (piece.file != file || between < 0 || between > kMaxHole)
                    break;
                if (between > 0)
                    vectors[used++] = iovec { hole, static_cast<std::size_t>(between) };
            }
            vectors[used++] = iovec { out, span.length };
            out += span.length;
            end = from + span.length;
        }
        if (file >= files.size())
            return false;
        const std::size_t total = static_cast<std::size_t>(end - start);
        std::size_t got = 0;
        while (got < total) {
            // Rarely in more than one call: shift the vectors past what came.
            ssize_t n = ::preadv(files[file].fd, vectors, used, static_cast<off_t>(start + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
            int skip = 0;
            while (skip < used && static_cast<std::size_t>(n) >= vectors[skip].iov_len) {
                n -= static_cast<ssize_t>(vectors[skip].iov_len);
                ++skip;
            }
            std::memmove(vectors, vectors + skip, sizeof(iovec) * std::size_t(used - skip));
            used -= skip;
            if (used > 0) {
                vectors[0].iov_base = static_cast<char*>(vectors[0].iov_base) + n;
                vectors[0].iov_len -= static_cast<std::size_t>(n);
            }
        }
    }
    return true;
}

void TlsStream::drain(int d)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    std::vector<Span> spans;
    while (!direction.dead) {
        if (m_kind == Kind::NotTls) {
            // Told by the other side's bytes: nothing of this side is a
            // record either.
            direction.dead = true;
            return;
        }
        if (direction.lost && !resync(d))
            return;
        if (!direction.have_header) {
            if (direction.pending_bytes < kHeader)
                return;
            std::vector<Span> head;
            std::uint64_t left = kHeader;
            bool gap = false;
            for (const Span& span : direction.pending) {
                const std::uint32_t part
                        = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, span.length));
                head.push_back({ span.piece, span.offset, part, span.gap });
                gap |= span.gap;
                left -= part;
                if (left == 0)
                    break;
            }
            if (gap || !read_spans(head, direction.header) || !plausible_header(direction.header)) {
                if (m_kind == Kind::Unknown) {
                    m_kind = Kind::NotTls;
                    direction.dead = true;
                    return;
                }
                if (direction.epoch < 0) {
                    // Lost during the handshake: nothing can be placed.
                    direction.dead = true;
                    Record record {};
                    record.piece = direction.pending.front().piece;
                    record.last_piece = record.piece;
                    record.direction = static_cast<std::uint8_t>(d);
                    record.status = Status::Lost;
                    ++m_counts.missing;
                    keep(record);
                    return;
                }
                direction.lost = true;
                direction.lost_from = direction.seq;
                continue;
            }
            direction.have_header = true;
            direction.need
                    = kHeader + (std::size_t(direction.header[3]) << 8 | direction.header[4]);
        }
        if (direction.pending_bytes < direction.need)
            return;
        spans.clear();
        consume(direction, direction.need, &spans);
        direction.have_header = false;
        read_record(d, spans);
    }
}

bool TlsStream::resync(int d)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    const Epoch& epoch = direction.epochs[static_cast<std::size_t>(direction.epoch)];
    if (epoch.cipher == nullptr) {
        direction.dead = true; // nothing tells a record from other bytes
        return false;
    }
    std::vector<std::uint8_t> bytes;
    for (;;) {
        // Past a hole: the next record begins somewhere in the bytes
        // captured after it.
        while (!direction.pending.empty() && direction.pending.front().gap)
            consume(direction, direction.pending.front().length, nullptr);
        // The captured bytes from here up to the next hole, as many as two
        // records.
        std::vector<Span> window;
        std::uint64_t available = 0;
        bool hole_after = false;
        for (const Span& span : direction.pending) {
            hole_after = span.gap;
            if (span.gap || available >= 2 * (kHeader + kMaxFragment))
                break;
            window.push_back(span);
            available += span.length;
        }
        const bool capped = !hole_after && window.size() < direction.pending.size();
        if (available < kHeader)
            return false;
        bytes.resize(static_cast<std::size_t>(available));
        if (!read_spans(window, bytes.data())) {
            direction.dead = true;
            return false;
        }
        bool again = false; // read from a candidate's start
        for (std::size_t at = 0; at + kHeader <= bytes.size() && !again; ++at) {
            const std::uint8_t* header = bytes.data() + at;
            if (header[0] != ApplicationData || !plausible_header(header))
                continue;
            const std::size_t length = std::size_t(header[3]) << 8 | header[4];
            if (at + kHeader + length > bytes.size()) {
                if (hole_after)
                    continue; // it runs into the hole: cannot be told
                consume(direction, at, nullptr); // wait for the rest of it
                if (!capped)
                    return false;
                again = true;
                continue;
            }
            // The next sequence numbers, as many records as may have been
            // lost.
            for (std::uint64_t tried = 0; tried <= kMaxLostRecords; ++tried) {
                const std::uint64_t seq = direction.lost_from + tried;
                if (!open(d, direction.epoch, seq, header, kHeader + length))
                    continue;
                consume(direction, at, nullptr);
                Record record {};
                record.piece = direction.pending.front().piece;
                record.last_piece = record.piece;
                record.piece_offset = direction.pending.front().offset;
                record.direction = static_cast<std::uint8_t>(d);
                record.status = Status::Lost;
                record.seq = tried;
                ++m_counts.missing;
                keep(record);
                direction.seq = seq;
                direction.lost = false;
                return true;
            }
        }
        if (again)
            continue;
        if (hole_after)
            consume(direction, bytes.size(), nullptr);
        else if (capped)
            consume(direction, bytes.size() - (kHeader + kMaxFragment), nullptr);
        else if (bytes.size() >= kHeader) {
            // A header may begin in the last bytes.
            consume(direction, bytes.size() - (kHeader - 1), nullptr);
            return false;
        }
    }
}

std::optional<std::size_t> TlsStream::open(int d, int epoch, std::uint64_t seq,
                                           const std::uint8_t* record, std::size_t length)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    TlsCipher* cipher = direction.epochs[static_cast<std::size_t>(epoch)].cipher.get();
    if (cipher == nullptr || length < kHeader)
        return std::nullopt;
    return cipher->open(seq, record, record + kHeader, length - kHeader, m_plain.data());
}

void TlsStream::read_record(int d, const std::vector<Span>& spans)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    const std::uint8_t type = direction.header[0];
    const std::size_t length = direction.need - kHeader;
    Record record {};
    record.piece = spans.front().piece;
    record.piece_offset = spans.front().offset;
    record.last_piece = spans.back().piece;
    record.length = static_cast<std::uint16_t>(length);
    record.direction = static_cast<std::uint8_t>(d);
    record.type = type;
    ++m_counts.records[static_cast<std::size_t>(d)];

    const bool gap = std::any_of(spans.begin(), spans.end(), [](const Span& s) { return s.gap; });
    const bool encrypted = direction.epoch >= 0 && type != ChangeCipherSpec;
    if (encrypted) {
        record.epoch = static_cast<std::uint16_t>(direction.epoch);
        record.seq = direction.seq++;
    }
    if (gap || !read_spans(spans, m_bytes.data())) {
        if (m_kind == Kind::Unknown) {
            m_kind = Kind::NotTls;
            direction.dead = true;
            return;
        }
        record.status = Status::Missing;
        ++m_counts.missing;
        keep(record);
        return;
    }
    if (type == ChangeCipherSpec) {
        // TLS 1.2: the sender's next records are under its new keys. (In
        // TLS 1.3 it is only there for middleboxes.)
        if (m_server_hello && !m_tls13)
            start_tls12_epoch(d);
        return;
    }
    if (!encrypted && type == ApplicationData && m_tls13) {
        // TLS 1.3: the handshake's own keys from the first encrypted record.
        start_tls13_epoch(d,
                          d == m_client ? TlsSecrets::ClientHandshake : TlsSecrets::ServerHandshake,
                          false);
        record.epoch = static_cast<std::uint16_t>(direction.epoch);
        record.seq = direction.seq++;
    } else if (!encrypted) {
        if (m_kind == Kind::Unknown && type != Handshake) {
            m_kind = Kind::NotTls;
            direction.dead = true;
            return;
        }
        if (type == Handshake)
            take_handshake(d, m_bytes.data() + kHeader, length);
        if (m_kind == Kind::Unknown) {
            m_kind = m_client_hello ? Kind::Tls : Kind::NotTls;
            if (m_kind == Kind::NotTls)
                direction.dead = true;
        }
        return;
    }

    const Epoch& epoch = direction.epochs[record.epoch];
    if (epoch.cipher == nullptr) {
        record.status = Status::NoKey;
        ++m_counts.no_key;
        keep(record);
        return;
    }
    const std::optional<std::size_t> opened
            = open(d, record.epoch, record.seq, m_bytes.data(), kHeader + length);
    std::size_t content = opened.value_or(0);
    std::uint8_t inner = type;
    if (opened && m_tls13) {
        // The content, its type, then zeros of padding.
        while (content > 0 && m_plain[content - 1] == 0)
            --content;
        inner = content > 0 ? m_plain[content - 1] : 0;
        content = content > 0 ? content - 1 : 0;
    }
    if (!opened || inner == 0) {
        record.status = Status::Failed;
        ++m_counts.failed;
        keep(record);
        return;
    }
    record.type = inner;
    record.content_length = static_cast<std::uint16_t>(content);
    record.status = Status::Decrypted;
    if (inner == ApplicationData) {
        m_counts.bytes[static_cast<std::size_t>(d)] += content;
        keep(record);
    } else if (inner == Handshake) {
        // Copied: a message may change the keys, and open again.
        const std::vector<std::uint8_t> bytes(
                m_plain.begin(), m_plain.begin() + static_cast<std::ptrdiff_t>(content));
        take_handshake(d, bytes.data(), bytes.size());
    }
}

void TlsStream::take_handshake(int d, const std::uint8_t* data, std::size_t length)
{
    HandshakeReader& reader = m_directions[static_cast<std::size_t>(d)].handshake;
    while (length > 0) {
        if (reader.header_bytes < 4) {
            reader.header[reader.header_bytes++] = *data++;
            --length;
            if (reader.header_bytes < 4)
                continue;
            reader.remaining = std::uint32_t(reader.header[1]) << 16
                    | std::uint32_t(reader.header[2]) << 8 | reader.header[3];
            const std::uint8_t type = reader.header[0];
            reader.keep = (type == tlshandshake::ClientHello || type == tlshandshake::ServerHello)
                    && reader.remaining <= kMaxHello;
            reader.body.clear();
        }
        const std::size_t part = std::min<std::size_t>(length, reader.remaining);
        if (reader.keep)
            reader.body.insert(reader.body.end(), data, data + part);
        data += part;
        length -= part;
        reader.remaining -= static_cast<std::uint32_t>(part);
        if (reader.remaining == 0) {
            reader.header_bytes = 0;
            take_message(d, reader.header[0], reader.body);
        }
    }
}

void TlsStream::take_message(int d, std::uint8_t type, const std::vector<std::uint8_t>& body)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    switch (type) {
    case tlshandshake::ClientHello:
        if (m_client < 0) {
            m_client = d;
            m_client_hello = tlshandshake::read_client_hello(body.data(), body.size());
        } else if (d == m_client && direction.epoch >= 0 && !m_tls13) {
            // A renegotiation: new randoms, keys at the next ChangeCipherSpec.
            if (auto hello = tlshandshake::read_client_hello(body.data(), body.size())) {
                m_client_hello = hello;
                m_secrets = TlsSecrets();
            }
        }
        break;
    case tlshandshake::ServerHello:
        if (d != m_client && m_client >= 0) {
            std::optional<TlsServerHello> hello
                    = tlshandshake::read_server_hello(body.data(), body.size());
            if (!hello)
                break;
            if (hello->retry) {
                m_retried = true;
                break;
            }
            m_server_hello = hello;
            m_tls13 = hello->version == 0x0304;
            m_suite = TlsSuite::find(hello->suite);
            if (m_suite != nullptr && m_suite->tls13 != m_tls13)
                m_suite = nullptr;
        }
        break;
    case tlshandshake::Finished:
        if (m_tls13 && direction.epoch == 0)
            start_tls13_epoch(d,
                              d == m_client ? TlsSecrets::ClientTraffic : TlsSecrets::ServerTraffic,
                              false);
        break;
    case tlshandshake::KeyUpdate:
        if (m_tls13 && direction.epoch > 0)
            start_tls13_epoch(d, TlsSecrets::ClientTraffic, true);
        break;
    default:
        break;
    }
}

const TlsSecrets& TlsStream::secrets()
{
    if (m_secrets.empty() && m_client_hello && m_lookup)
        m_secrets = m_lookup(m_client_hello->random);
    return m_secrets;
}

void TlsStream::start_tls13_epoch(int d, TlsSecrets::Label label, bool next_of_current)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    Epoch epoch;
    if (m_suite != nullptr) {
        std::optional<TlsSecret> secret;
        if (next_of_current)
            secret = tlskeys::next_traffic_secret(
                    *m_suite, direction.epochs[static_cast<std::size_t>(direction.epoch)].secret);
        else if (!secrets()[label].empty())
            secret = secrets()[label];
        if (secret) {
            epoch.secret = *secret;
            if (const std::optional<TlsKeys> keys = tlskeys::from_traffic_secret(*m_suite, *secret))
                epoch.cipher = TlsCipher::create(*m_suite, *keys);
        }
    }
    direction.epochs.push_back(std::move(epoch));
    direction.epoch = static_cast<int>(direction.epochs.size()) - 1;
    direction.seq = 0;
}

void TlsStream::start_tls12_epoch(int d)
{
    Direction& direction = m_directions[static_cast<std::size_t>(d)];
    Epoch epoch;
    if (m_suite != nullptr && m_client_hello && m_server_hello) {
        const std::optional<std::array<TlsKeys, 2>> keys
                = tlskeys::from_master_secret(*m_suite, secrets()[TlsSecrets::MasterSecret],
                                              m_client_hello->random, m_server_hello->random);
        if (keys)
            epoch.cipher = TlsCipher::create(*m_suite, (*keys)[d == m_client ? 0 : 1]);
    }
    direction.epochs.push_back(std::move(epoch));
    direction.epoch = static_cast<int>(direction.epochs.size()) - 1;
    direction.seq = 0;
}

void TlsStream::keep(const Record& record)
{
    m_records.push_back(record);
}

bool TlsStream::read_content(std::size_t index, std::uint8_t* out)
{
    if (index >= m_records.size())
        return false;
    const Record& record = m_records[index];
    if (record.status != Status::Decrypted || record.content_length == 0)
        return false;
    // The record's bytes from its first piece on, the other side's skipped.
    const std::vector<TcpFollow::Piece>& pieces = m_follow.pieces();
    std::vector<Span> spans;
    std::size_t left = kHeader + record.length;
    std::uint32_t offset = record.piece_offset;
    for (std::uint64_t i = record.piece; left > 0 && i <= record.last_piece; ++i) {
        const TcpFollow::Piece& piece = pieces[i];
        if (piece.direction != record.direction)
            continue;
        if (piece.gap || piece.length <= offset)
            return false;
        const std::uint32_t part
                = static_cast<std::uint32_t>(std::min<std::size_t>(left, piece.length - offset));
        spans.push_back({ i, offset, part, false });
        left -= part;
        offset = 0;
    }
    if (left > 0 || !read_spans(spans, m_bytes.data()))
        return false;
    const std::optional<std::size_t> opened = open(record.direction, record.epoch, record.seq,
                                                   m_bytes.data(), kHeader + record.length);
    if (!opened || *opened < record.content_length)
        return false;
    std::memcpy(out, m_plain.data(), record.content_length);
    return true;
}
