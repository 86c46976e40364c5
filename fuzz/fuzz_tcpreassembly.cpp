// SPDX-License-Identifier: GPL-2.0-or-later

// The TCP reassembly on segment lists of any order, with duplicates,
// overlaps with different bytes, holes, cut tails, FINs, SYNs and
// acknowledgements, checked against a reference kept per byte: for every
// position of a direction, the first thing captured there (a byte, or the
// sequence number of a FIN). With a small limit on what may wait, holes are
// given up as gaps: the checks hold still, as they look at what had been
// captured when each event was made. Input layout:
//   [0]      where the directions' sequence numbers begin (near 2^32 for
//            direction 0, so that most inputs wrap); with bit 7 set, bits
//            0-2 plus 1 are the runs a direction may hold
//   then 6 bytes per segment:
//   [0]      bit 0 direction, 1 SYN, 2 FIN, 3 RST, 4 ACK, 5 cut by the
//            snapshot length, 6 at the end of what the direction sent so far
//   [1]      else the first data byte's position, signed, relative to that end
//   [2]      payload length the headers state
//   [3]      bytes captured of it when cut
//   [4]      acknowledged position, signed, relative to the end of what the
//            other direction sent so far
//   [5]      seed of the payload's bytes: copies with other seeds differ
// A frame holds a header, the captured payload and a trailer, so a piece
// that reaches past the captured bytes shows as wrong bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "tcpreassembly.h"

namespace {

constexpr std::size_t kRecordBytes = 6;
constexpr std::size_t kMaxSegments = 512;

[[noreturn]] void fail(const char* what, long long where)
{
    std::fprintf(stderr, "fuzz_tcpreassembly: %s (%lld)\n", what, where);
    std::abort();
}

std::uint8_t content(std::uint8_t seed, std::int64_t position)
{
    return static_cast<std::uint8_t>(seed * 31 + position);
}

struct Item
{
    bool fin;
    std::uint8_t value;
    std::int64_t frame;
};

struct Reference
{
    bool started = false;
    std::int64_t start = 0;
    std::int64_t end = 0; // one past the last position captured, missing or acknowledged
    std::map<std::int64_t, Item> items; // the first captured at each position
};

struct Sent
{
    std::int64_t position; // of the first data byte
    std::uint32_t payload_offset;
    std::uint32_t captured;
    std::vector<std::uint8_t> frame;
};

bool same(const TcpStreamEvent& a, const TcpStreamEvent& b)
{
    return a.kind == b.kind && a.direction == b.direction && a.piece.frame == b.piece.frame
            && a.piece.frame_offset == b.piece.frame_offset && a.piece.length == b.piece.length
            && a.missing == b.missing && a.frame == b.frame && a.seq == b.seq;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::array<std::uint32_t, 2> base { 0xffffff00U + data[0] * 3U, data[0] * 0x01010101U };
    std::array<std::int64_t, 2> sent_end {};
    std::array<Reference, 2> ref;
    std::vector<Sent> sent;
    TcpReassembly reassembly;
    if ((data[0] & 0x80) != 0)
        reassembly.set_waiting_limit(1 + (data[0] & 7U));
    std::vector<TcpStreamEvent> before;

    for (std::size_t at = 1; at + kRecordBytes <= size && sent.size() < kMaxSegments;
         at += kRecordBytes) {
        const std::uint8_t* r = data + at;
        const int d = r[0] & 1;
        TcpSegmentIn in;
        in.frame = static_cast<std::int64_t>(sent.size()) + 1;
        in.seconds = in.frame;
        in.direction = d;
        in.syn = (r[0] & 2) != 0;
        in.fin = (r[0] & 4) != 0;
        in.rst = (r[0] & 8) != 0;
        in.has_ack = (r[0] & 16) != 0;
        const std::int64_t position
                = sent_end[d] + ((r[0] & 64) != 0 ? 0 : static_cast<std::int8_t>(r[1]));
        in.stated = r[2];
        in.captured = (r[0] & 32) != 0 ? std::min<std::uint32_t>(r[3], in.stated) : in.stated;
        in.seq = static_cast<std::uint32_t>(base[d] + position - (in.syn ? 1 : 0));
        const std::int64_t acked = sent_end[1 - d] + static_cast<std::int8_t>(r[4]);
        in.ack = static_cast<std::uint32_t>(base[1 - d] + acked);
        in.payload_offset = 20 + static_cast<std::uint32_t>(sent.size() % 5);

        Sent s { position, in.payload_offset, in.captured, {} };
        s.frame.assign(in.payload_offset, 0xee);
        for (std::uint32_t i = 0; i < in.captured; ++i)
            s.frame.push_back(content(r[5], position + i));
        s.frame.insert(s.frame.end(), 3, 0xdd);
        sent.push_back(s);
        sent_end[d] = std::max(sent_end[d], position + in.stated + (in.fin ? 1 : 0));

        // The reference: the acknowledgement first, then the segment's own
        // bytes, each position keeping what was captured there first.
        Reference& other = ref[1 - d];
        if (in.has_ack && other.started)
            other.end = std::max(other.end, acked);
        Reference& own = ref[d];
        if (!own.started && (in.syn || in.stated > 0)) {
            own.started = true;
            own.start = own.end = position;
        }
        if (own.started) {
            for (std::uint32_t i = 0; i < in.captured; ++i) {
                if (position + i >= own.start)
                    own.items.emplace(position + i,
                                      Item { false, content(r[5], position + i), in.frame });
            }
            if (in.fin && position + in.stated >= own.start)
                own.items.emplace(position + in.stated, Item { true, 0, in.frame });
            if (in.stated > 0 || in.fin)
                own.end = std::max(own.end, position + in.stated + (in.fin ? 1 : 0));
        }

        reassembly.add(in);
        if (reassembly.waiting(0) > reassembly.waiting_limit()
            || reassembly.waiting(1) > reassembly.waiting_limit())
            fail("more runs wait than the limit allows", in.frame);
        // What was handed out stays as it was.
        const std::vector<TcpStreamEvent>& now = reassembly.events();
        if (now.size() < before.size())
            fail("events went away", static_cast<long long>(now.size()));
        for (std::size_t i = 0; i < before.size(); ++i) {
            if (!same(now[i], before[i]))
                fail("an event changed after its call", static_cast<long long>(i));
        }
        before = now;
    }
    reassembly.finish();

    // Every event against the reference, each direction walked from its start.
    std::array<std::int64_t, 2> pos { ref[0].start, ref[1].start };
    std::array<std::uint64_t, 2> bytes {};
    std::int64_t gaps = 0;
    std::uint64_t missing = 0;
    std::int64_t last_frame = 0;
    const auto skip_fins = [&](int d, std::uint32_t seq) {
        while (static_cast<std::uint32_t>(base[d] + pos[d]) != seq) {
            const auto it = ref[d].items.find(pos[d]);
            if (it == ref[d].items.end() || !it->second.fin || pos[d] >= ref[d].end)
                fail("an event does not begin where the last one ended", pos[d]);
            ++pos[d];
        }
    };
    for (const TcpStreamEvent& event : reassembly.events()) {
        const int d = event.direction;
        if ((d != 0 && d != 1) || !ref[d].started || event.piece.direction != d)
            fail("an event of a direction that never began", d);
        if (event.frame < last_frame)
            fail("events out of capture order", event.frame);
        last_frame = event.frame;
        skip_fins(d, event.seq);
        if (event.kind == TcpStreamEvent::Gap) {
            if (event.missing == 0 || event.piece.length != 0)
                fail("an empty gap, or a gap with bytes", pos[d]);
            ++gaps;
            missing += event.missing;
            for (std::uint64_t i = 0; i < event.missing; ++i, ++pos[d]) {
                const auto it = ref[d].items.find(pos[d]);
                if (it != ref[d].items.end() && it->second.frame <= event.frame)
                    fail("a gap where something had been captured", pos[d]);
            }
            continue;
        }
        if (event.piece.length == 0 || event.piece.frame < 1
            || event.piece.frame > static_cast<std::int64_t>(sent.size()))
            fail("an empty piece, or one of no frame", event.piece.frame);
        const Sent& s = sent[static_cast<std::size_t>(event.piece.frame - 1)];
        if (event.piece.frame_offset < s.payload_offset
            || event.piece.frame_offset + std::uint64_t(event.piece.length)
                    > s.payload_offset + std::uint64_t(s.captured))
            fail("a piece beyond the captured payload", event.piece.frame);
        bytes[d] += event.piece.length;
        for (std::uint32_t i = 0; i < event.piece.length; ++i, ++pos[d]) {
            const auto it = ref[d].items.find(pos[d]);
            if (it == ref[d].items.end() || it->second.fin)
                fail("a byte handed out where none was captured", pos[d]);
            const std::uint32_t offset = event.piece.frame_offset + i;
            if (it->second.frame != event.piece.frame || it->second.frame > event.frame)
                fail("a byte from other than the first captured copy", pos[d]);
            if (s.position + (offset - s.payload_offset) != pos[d]
                || s.frame[offset] != it->second.value)
                fail("a byte from the wrong place of its frame", pos[d]);
        }
    }
    for (int d = 0; d < 2; ++d) {
        while (pos[d] < ref[d].end) {
            const auto it = ref[d].items.find(pos[d]);
            if (it == ref[d].items.end() || !it->second.fin)
                fail("positions left without bytes or gap at the end", pos[d]);
            ++pos[d];
        }
        if (ref[d].started && pos[d] != ref[d].end)
            fail("bytes or gaps beyond the end", pos[d]);
        if (reassembly.bytes()[d] != bytes[d])
            fail("bytes() disagrees with the events", d);
    }
    if (reassembly.gaps() != gaps || reassembly.missing_bytes() != missing)
        fail("gaps() or missing_bytes() disagrees with the events", gaps);
    if (reassembly.segments() != static_cast<std::int64_t>(sent.size()))
        fail("segments() is not the count added", reassembly.segments());
    return 0;
}
