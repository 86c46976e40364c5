// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "tlshandshake.h"
#include "tlssecret.h"

class TcpFollow;
class TlsCipher;
struct TlsSuite;

// The TLS reading of a followed TCP connection: the records of both byte
// streams (TcpFollow's pieces, read from the capture store's files), the
// hellos (version, suite, randoms; a HelloRetryRequest and a resumption are
// followed), the key schedule from the secrets a key log gives for the
// client random, and the records' plaintext. Every record is opened and its
// tag verified as it is read, so that the index knows which records hold
// application data and how much; the plaintext itself is not kept: a
// reader asks for a record's content again (read_content), which reads and
// opens it anew. TLS 1.3 key updates are followed both ways.
//
// A record whose tag fails, whose bytes were not all captured, or for which
// no key is known, is kept in the index with that status and never yields
// plaintext. When bytes were lost where a record header lay (the framing is
// lost), the reading looks for the next record past the hole that opens
// under the next sequence numbers (TLS 1.3 and 1.2 alike: the sequence
// number is part of each record's nonce or additional data), up to
// kMaxLostRecords of them; the records in between count as lost.
//
// Memory: 40 bytes per record kept (application data, or a record that
// failed), and the bytes of one record being read each way.
class TlsStream
{
public:
    enum class Kind : std::uint8_t {
        Unknown, // no bytes yet
        Tls, // it begins with a ClientHello
        NotTls, // it begins with something else
    };
    enum class Status : std::uint8_t {
        Decrypted,
        Failed, // the tag did not verify
        Missing, // bytes of it were not captured
        NoKey, // the key log had no secret for its keys
        Lost, // records never placed: `seq` counts them
    };
    struct Record
    {
        std::uint64_t piece; // of the follow holding the record's first byte
        std::uint64_t last_piece; // holding its last byte
        std::uint64_t seq; // its sequence number under its keys
        std::uint32_t piece_offset; // of the first byte in its piece
        std::uint16_t length; // of the fragment, after the 5-byte header
        std::uint16_t content_length; // of the plaintext content (Decrypted)
        std::uint16_t epoch; // its keys: the direction's n-th
        std::uint8_t type; // content type (the inner one of TLS 1.3)
        std::uint8_t direction;
        Status status;
    };
    struct Counts
    {
        std::array<std::uint64_t, 2> records {}; // each way, of every type
        std::array<std::uint64_t, 2> bytes {}; // of application data each way
        std::uint64_t failed = 0; // tag did not verify
        std::uint64_t missing = 0; // not all captured, or lost
        std::uint64_t no_key = 0;
    };
    // The secrets the key logs hold for a client random (empty: none).
    using Lookup = std::function<TlsSecrets(const std::array<std::uint8_t, 32>&)>;

    static constexpr std::uint64_t kMaxLostRecords = 4096;

    // Reads nothing yet; the follow must outlive it.
    TlsStream(const TcpFollow& follow, Lookup lookup);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Reads the follow's pieces not read yet; with a budget > 0, stops once
    // about that many bytes were read. True when every piece was read.
    bool advance(std::int64_t budget = 0);
    // No more pieces come: a record cut by the end counts as missing.
    void finish();

    Kind kind() const { return m_kind; }
    // Set once the client's hello was read.
    const std::optional<TlsClientHello>& client_hello() const { return m_client_hello; }
    const std::optional<TlsServerHello>& server_hello() const { return m_server_hello; }
    int client_direction() const { return m_client; }
    bool retried() const { return m_retried; }
    bool resumed() const;
    // The negotiated suite, when it is one decrypted here.
    const TlsSuite* suite() const { return m_suite; }
    // Whether the key logs held secrets for the connection when they were
    // first needed (looked up again until they do).
    bool has_secrets() const { return !m_secrets.empty(); }

    // Records of application data and records that could not be opened, in
    // the order their last bytes came (the conversation's order).
    const std::vector<Record>& records() const { return m_records; }
    const Counts& counts() const { return m_counts; }

    // Reads and opens records()[index] again and copies its content
    // (content_length bytes) to out; false when that fails now (the files
    // fell short) or the record has no content.
    bool read_content(std::size_t index, std::uint8_t* out);

private:
    struct Span
    {
        std::uint64_t piece;
        std::uint32_t offset; // in the piece
        std::uint32_t length;
        bool gap;
    };
    struct Epoch
    {
        std::unique_ptr<TlsCipher> cipher; // null: no key
        TlsSecret secret; // TLS 1.3: the traffic secret, for a key update
    };
    struct HandshakeReader
    {
        std::uint8_t header[4] {};
        int header_bytes = 0;
        std::uint32_t remaining = 0;
        bool keep = false; // the body is kept (a hello)
        std::vector<std::uint8_t> body;
    };
    struct Direction
    {
        std::deque<Span> pending; // bytes not yet part of a record read
        std::uint64_t pending_bytes = 0;
        bool have_header = false;
        std::uint8_t header[5] {};
        std::size_t need = 0; // bytes of the record, header included
        bool lost = false; // framing lost: looking for the next record
        bool dead = false; // not TLS: nothing more is read
        std::vector<Epoch> epochs;
        int epoch = -1; // -1: plaintext
        std::uint64_t seq = 0;
        HandshakeReader handshake;
        std::uint64_t lost_from = 0; // records seen before the framing was lost
    };

    void take_piece(std::uint64_t index);
    void drain(int direction);
    // Looks for the next record after lost bytes; false: wait for more.
    bool resync(int direction);
    void consume(Direction& direction, std::uint64_t bytes, std::vector<Span>* taken);
    bool read_spans(const std::vector<Span>& spans, std::uint8_t* out) const;
    void read_record(int direction, const std::vector<Span>& spans);
    // Opens a record under the direction's keys; the plaintext in m_plain.
    std::optional<std::size_t> open(int direction, int epoch, std::uint64_t seq,
                                    const std::uint8_t* record, std::size_t length);
    void take_handshake(int direction, const std::uint8_t* data, std::size_t length);
    void take_message(int direction, std::uint8_t type, const std::vector<std::uint8_t>& body);
    // Starts the direction's next keys, from a TLS 1.3 secret of the key
    // log or, when next_of_current, from its current one.
    void start_tls13_epoch(int direction, TlsSecrets::Label label, bool next_of_current);
    void start_tls12_epoch(int direction);
    const TlsSecrets& secrets();
    void keep(const Record& record);

    const TcpFollow& m_follow;
    Lookup m_lookup;
    std::uint64_t m_next_piece = 0;
    std::array<Direction, 2> m_directions;
    Kind m_kind = Kind::Unknown;
    int m_client = -1;
    std::optional<TlsClientHello> m_client_hello;
    std::optional<TlsServerHello> m_server_hello;
    bool m_retried = false;
    bool m_tls13 = false;
    const TlsSuite* m_suite = nullptr;
    TlsSecrets m_secrets;
    std::vector<Record> m_records;
    Counts m_counts;
    // The record being read and its plaintext.
    std::vector<std::uint8_t> m_bytes;
    std::vector<std::uint8_t, CleansingAllocator<std::uint8_t>> m_plain;
};
