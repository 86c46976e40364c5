// SPDX-License-Identifier: GPL-2.0-or-later

// The reading of TLS records from a followed connection's bytes: framing,
// records cut by holes, lengths over the limit, tags that fail, the hunt for
// the next record after lost bytes, key updates. The bytes become the
// segments of one IPv4 connection in a capture store, followed as a row of
// the packet table is, then read and opened with secrets the input chooses
// among fixed ones. What holds whatever the bytes: no record that did not
// open yields plaintext, a record that opened opens again to the same bytes,
// and the counts are those of the records kept. Input layout:
//   [0]      the key log's secrets: bit 0 CLIENT_RANDOM, 1-4 the TLS 1.3
//            handshake and traffic secrets (client, server), 5 48-byte ones
//   then per segment:
//   [0]      bit 0 direction (1: the server's), 1 not captured (a hole)
//   [1-2]    payload length (big-endian, at most kMaxPayload)
//   then the payload bytes
// The secrets are those fuzz/make_tlsrecord_seeds.py encrypts its
// seeds with: byte 0x11 + label times the length.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <pcap/pcap.h>

#include <QString>
#include <QTemporaryDir>

#include "capturestore.h"
#include "tcpfollow.h"
#include "tlsstream.h"

namespace {

constexpr std::size_t kMaxPayload = 4096;
constexpr std::size_t kMaxSegments = 256;
constexpr std::int64_t kClearAfterFrames = 16384;
constexpr std::size_t kFrameHeaders = 14 + 20 + 20;
constexpr std::uint32_t kFirstSeq[2] = { 1000, 500000 };

[[noreturn]] void fail(const char* what, long long where)
{
    std::fprintf(stderr, "fuzz_tlsrecord: %s (%lld)\n", what, where);
    std::abort();
}

void put16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value)
{
    put16(at, value >> 16);
    put16(at + 2, value);
}

// An Ethernet frame of a TCP/IPv4 segment between 10.0.0.1:40000 (the
// client) and 10.0.0.2:443.
std::vector<std::uint8_t> frame(int direction, std::uint32_t seq, std::uint32_t ack,
                                std::uint8_t flags, const std::uint8_t* payload, std::size_t length)
{
    std::vector<std::uint8_t> bytes(kFrameHeaders + length);
    std::uint8_t* ip = bytes.data() + 14;
    bytes[12] = 0x08; // IPv4
    ip[0] = 0x45;
    put16(ip + 2, static_cast<std::uint32_t>(20 + 20 + length));
    ip[8] = 64;
    ip[9] = 6; // TCP
    const std::uint8_t client[4] = { 10, 0, 0, 1 };
    const std::uint8_t server[4] = { 10, 0, 0, 2 };
    std::memcpy(ip + 12, direction == 0 ? client : server, 4);
    std::memcpy(ip + 16, direction == 0 ? server : client, 4);
    std::uint8_t* tcp = ip + 20;
    put16(tcp, direction == 0 ? 40000 : 443);
    put16(tcp + 2, direction == 0 ? 443 : 40000);
    put32(tcp + 4, seq);
    put32(tcp + 8, ack);
    tcp[12] = 0x50;
    tcp[13] = flags;
    put16(tcp + 14, 65535);
    if (length > 0)
        std::memcpy(tcp + 20, payload, length);
    return bytes;
}

// One for the run, emptied for each input; its folder goes at the end.
CaptureStore& store()
{
    static QTemporaryDir parent; // private to this user, as the store wants
    static CaptureStore kept(parent.path());
    if (!kept.isValid())
        fail("no capture store", 0);
    return kept;
}

TlsSecrets secrets_of(std::uint8_t choice)
{
    TlsSecrets secrets;
    const std::uint8_t length = (choice & 0x20) != 0 ? 48 : 32;
    for (int label = 0; label < TlsSecrets::kLabels; ++label) {
        if ((choice & (1 << label)) == 0)
            continue;
        TlsSecret& secret = secrets[static_cast<TlsSecrets::Label>(label)];
        secret.length = label == TlsSecrets::MasterSecret ? 48 : length;
        secret.bytes.fill(static_cast<std::uint8_t>(0x11 + label));
    }
    return secrets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // Emptied now and then: a clear for each input would cost more than the
    // input's reading.
    CaptureStore& frames_store = store();
    if (frames_store.frame_count() > kClearAfterFrames)
        frames_store.clear(CaptureStore::Removal::Now);
    const TlsSecrets secrets = secrets_of(data[0]);

    std::vector<std::int64_t> frames;
    std::uint32_t next[2] = { kFirstSeq[0], kFirstSeq[1] };
    const auto add = [&](const std::vector<std::uint8_t>& bytes) {
        pcap_pkthdr header {};
        header.ts.tv_sec = static_cast<long>(frames.size());
        header.caplen = header.len = static_cast<bpf_u_int32>(bytes.size());
        const std::optional<std::int64_t> seq
                = frames_store.append(DLT_EN10MB, header, bytes.data());
        if (!seq)
            fail("frame not stored", static_cast<long long>(frames.size()));
        frames.push_back(*seq);
    };
    // The handshake of TCP, then the segments.
    add(frame(0, kFirstSeq[0] - 1, 0, 0x02, nullptr, 0));
    add(frame(1, kFirstSeq[1] - 1, kFirstSeq[0], 0x12, nullptr, 0));
    std::size_t at = 1;
    while (at + 3 <= size && frames.size() < kMaxSegments) {
        const int direction = data[at] & 1;
        const bool hole = (data[at] & 2) != 0;
        std::size_t length = std::size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        if (length > kMaxPayload)
            length = kMaxPayload;
        if (length > size - at)
            length = size - at;
        if (!hole)
            add(frame(direction, next[direction], next[1 - direction], 0x18, data + at, length));
        next[direction] += static_cast<std::uint32_t>(length);
        at += length;
    }
    std::vector<int> rows(frames.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<int>(i);

    QString error;
    const std::unique_ptr<TcpFollow> follow
            = TcpFollow::open(frames_store, frames, rows, frames.front(), &error);
    if (follow == nullptr)
        fail("the connection not followed", 0);
    follow->finish();
    TlsStream tls(*follow, [&secrets](const std::array<std::uint8_t, 32>&) { return secrets; });
    // In slices, as the window reads.
    while (!tls.advance(1500)) { }
    tls.finish();

    TlsStream::Counts counted;
    std::vector<std::uint8_t> first(1 << 15);
    std::vector<std::uint8_t> again(1 << 15);
    const std::vector<TlsStream::Record>& records = tls.records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TlsStream::Record& record = records[i];
        if (record.direction > 1 || record.last_piece < record.piece
            || record.last_piece >= follow->pieces().size())
            fail("record out of the follow", static_cast<long long>(i));
        const bool opened = tls.read_content(i, first.data());
        switch (record.status) {
        case TlsStream::Status::Decrypted:
            if (record.content_length > 16384 + 256 || record.content_length > record.length)
                fail("content longer than the record", static_cast<long long>(i));
            if (record.type != 23)
                fail("a record kept that is not application data", static_cast<long long>(i));
            counted.bytes[record.direction] += record.content_length;
            if (record.content_length > 0
                && (!opened || !tls.read_content(i, again.data())
                    || std::memcmp(first.data(), again.data(), record.content_length) != 0))
                fail("content that does not open the same again", static_cast<long long>(i));
            continue;
        case TlsStream::Status::Failed:
            ++counted.failed;
            break;
        case TlsStream::Status::Missing:
        case TlsStream::Status::Lost:
            ++counted.missing;
            break;
        case TlsStream::Status::NoKey:
            ++counted.no_key;
            break;
        }
        if (opened)
            fail("plaintext of a record that did not open", static_cast<long long>(i));
    }
    const TlsStream::Counts& counts = tls.counts();
    if (counts.bytes != counted.bytes || counts.failed != counted.failed
        || counts.missing != counted.missing || counts.no_key != counted.no_key)
        fail("counts not those of the records", 0);
    if (tls.kind() == TlsStream::Kind::NotTls && !records.empty() && !tls.client_hello())
        fail("records of a connection that is not TLS", 0);
    return 0;
}
