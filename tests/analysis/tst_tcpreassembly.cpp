// SPDX-License-Identifier: GPL-2.0-or-later

#include <array>
#include <vector>

#include <QtTest>

#include "tcpreassembly.h"

namespace {

// One segment as a test writes it; flags are letters: S(YN), A(CK), F(IN),
// R(ST). `stated` is the payload length the headers claim (the payload's own
// when -1); a shorter payload is what a snapshot length left of it.
struct Seg
{
    int direction;
    quint32 seq;
    QByteArray payload;
    QByteArray flags;
    quint32 ack = 0;
    int stated = -1;
};
using Segs = QVector<Seg>;

// The frames of a capture as a store keeps them: frame n is frames[n - 1],
// a link and IP header of varying length before the payload.
struct Capture
{
    std::vector<TcpSegmentIn> segments;
    QVector<QByteArray> frames;
};

Capture capture(const Segs& segs)
{
    Capture result;
    for (const Seg& seg : segs) {
        const QByteArray header(40 + result.frames.size() % 7, 'h');
        TcpSegmentIn in;
        in.frame = result.frames.size() + 1;
        in.seconds = 1000 + in.frame;
        in.nanoseconds = 7;
        in.direction = seg.direction;
        in.seq = seg.seq;
        in.ack = seg.ack;
        in.has_ack = seg.flags.contains('A');
        in.syn = seg.flags.contains('S');
        in.fin = seg.flags.contains('F');
        in.rst = seg.flags.contains('R');
        in.payload_offset = static_cast<std::uint32_t>(header.size());
        in.captured = static_cast<std::uint32_t>(seg.payload.size());
        in.stated = static_cast<std::uint32_t>(seg.stated < 0 ? seg.payload.size() : seg.stated);
        result.frames.append(header + seg.payload + QByteArray("trailer"));
        result.segments.push_back(in);
    }
    return result;
}

QByteArray bytes_of(const Capture& capture, const TcpStreamEvent& event)
{
    return capture.frames.at(static_cast<int>(event.piece.frame - 1))
            .mid(static_cast<int>(event.piece.frame_offset), static_cast<int>(event.piece.length));
}

// Each direction as text: its bytes as they are, a gap as "<missing>".
std::array<QByteArray, 2> render(const Capture& capture, const TcpReassembly& reassembly)
{
    std::array<QByteArray, 2> text;
    for (const TcpStreamEvent& event : reassembly.events()) {
        text[event.direction] += event.kind == TcpStreamEvent::Bytes
                ? bytes_of(capture, event)
                : "<" + QByteArray::number(static_cast<qulonglong>(event.missing)) + ">";
    }
    return text;
}

// A's ISN 1000 and B's 5000: A's data begins at 1001, B's at 5001.
Segs handshake()
{
    return { { 0, 1000, "", "S" }, { 1, 5000, "", "SA", 1001 }, { 0, 1001, "", "A", 5001 } };
}

} // namespace

Q_DECLARE_METATYPE(Segs)

class TstTcpReassembly : public QObject
{
    Q_OBJECT

private slots:
    void reassemble_data();
    void reassemble();
    void conversation_order();
    void waits_until_finish();
    void waiting_is_bounded_data();
    void waiting_is_bounded();
    void split_data();
    void split();
};

void TstTcpReassembly::reassemble_data()
{
    QTest::addColumn<Segs>("segments");
    QTest::addColumn<QByteArray>("from_a");
    QTest::addColumn<QByteArray>("from_b");
    QTest::addColumn<int>("gaps");
    QTest::addColumn<int>("retransmissions");

    const Segs hs = handshake();
    QTest::newRow("in-order") << hs
                    + Segs { { 0, 1001, "GET /", "A", 5001 },
                             { 1, 5001, "200 OK", "A", 1006 },
                             { 0, 1006, "", "FA", 5007 },
                             { 1, 5007, "", "FA", 1007 },
                             { 0, 1007, "", "A", 5008 } }
                              << QByteArray("GET /") << QByteArray("200 OK") << 0 << 0;
    QTest::newRow("reordered") << hs + Segs { { 0, 1004, "lo", "A" }, { 0, 1001, "hel", "A" } }
                               << QByteArray("hello") << QByteArray() << 0 << 0;
    QTest::newRow("duplicate") << hs
                    + Segs { { 0, 1001, "abc", "A" },
                             { 0, 1001, "abc", "A" },
                             { 0, 1004, "def", "A" } }
                               << QByteArray("abcdef") << QByteArray() << 0 << 1;
    // A byte handed out stays, and so does one that waits: the copy
    // captured first wins, whatever a later one says.
    QTest::newRow("overlap-after-handed-out")
            << hs + Segs { { 0, 1001, "abcdef", "A" }, { 0, 1004, "XYZ123", "A" } }
            << QByteArray("abcdef123") << QByteArray() << 0 << 1;
    QTest::newRow("overlap-with-waiting")
            << hs + Segs { { 0, 1005, "XXXX", "A" }, { 0, 1001, "aaaaaa", "A" } }
            << QByteArray("aaaaXXXX") << QByteArray() << 0 << 1;
    QTest::newRow("overlaps-among-waiting")
            << hs
                    + Segs { { 0, 1012, "YYYYY", "A" },
                             { 0, 1009, "ZZZZZZ", "A" },
                             { 0, 1001, "aaaaaaaa", "A" } }
            << QByteArray("aaaaaaaaZZZYYYYY") << QByteArray() << 0 << 1;
    QTest::newRow("syn-data") << Segs { { 0, 1000, "hello", "S" },
                                        { 1, 5000, "world", "SA", 1006 },
                                        { 0, 1006, "!", "A", 5006 } }
                              << QByteArray("hello!") << QByteArray("world") << 0 << 0;
    QTest::newRow("wrap-around") << Segs { { 0, 0xfffffffd, "", "S" },
                                           { 1, 0xfffffffe, "", "SA", 0xfffffffe },
                                           { 0, 0xfffffffe, "abc", "A", 0xffffffff },
                                           { 0, 0x00000004, "ghi", "A", 0xffffffff },
                                           { 0, 0x00000001, "def", "A", 0xffffffff },
                                           { 1, 0xffffffff, "xyz", "A", 0x00000007 } }
                                 << QByteArray("abcdefghi") << QByteArray("xyz") << 0 << 0;
    QTest::newRow("first-segments-missing") << Segs { { 1, 9000, "", "A", 7000 },
                                                      { 0, 7000, "xyz", "A", 9000 },
                                                      { 1, 9000, "resp", "A", 7003 },
                                                      { 0, 7003, "abc", "A", 9004 } }
                                            << QByteArray("xyzabc") << QByteArray("resp") << 0 << 0;
    QTest::newRow("snapshot-cut") << hs
                    + Segs { { 0, 1001, "abcd", "A", 0, 10 }, { 0, 1011, "efgh", "A", 0, 10 } }
                                  << QByteArray("abcd<6>efgh<6>") << QByteArray() << 2 << 0;
    QTest::newRow("snapshot-cut-waiting")
            << hs + Segs { { 0, 1011, "efgh", "A", 0, 10 }, { 0, 1001, "abcd", "A", 0, 10 } }
            << QByteArray("abcd<6>efgh<6>") << QByteArray() << 2 << 0;
    QTest::newRow("padding-beyond-stated") << hs
                    + Segs { { 0, 1001, QByteArray("ab\0\0\0\0", 6), "A", 0, 2 },
                             { 0, 1003, "c", "A" } }
                                           << QByteArray("abc") << QByteArray() << 0 << 0;
    QTest::newRow("cut-tail-filled-while-waiting")
            << hs
                    + Segs { { 0, 1004, "cc", "A", 0, 4 },
                             { 0, 1004, "ccdd", "A" },
                             { 0, 1001, "aaa", "A" } }
            << QByteArray("aaaccdd") << QByteArray() << 0 << 1;
    QTest::newRow("ack-beyond-hole") << hs
                    + Segs { { 0, 1001, "aaa", "A" },
                             { 0, 1007, "ccc", "A" },
                             { 1, 5001, "", "A", 1010 } }
                                     << QByteArray("aaa<3>ccc") << QByteArray() << 1 << 0;
    QTest::newRow("ack-beyond-last-seen")
            << hs + Segs { { 0, 1001, "aaa", "A" }, { 1, 5001, "", "A", 1007 } }
            << QByteArray("aaa<3>") << QByteArray() << 1 << 0;
    // Acknowledged bytes that the capture lacks may still come in a copy
    // sent again (a capture that dropped the first, and a spurious
    // retransmission): tshark's follow shows them, and so do we.
    QTest::newRow("acked-then-captured") << hs
                    + Segs { { 0, 1001, "aaa", "A" },
                             { 1, 5001, "", "A", 1007 },
                             { 0, 1004, "bbb", "A" } }
                                         << QByteArray("aaabbb") << QByteArray() << 0 << 0;
    QTest::newRow("acked-beyond-waiting-then-captured") << hs
                    + Segs { { 0, 1001, "aaa", "A" },
                             { 0, 1007, "ccc", "A" },
                             { 1, 5001, "", "A", 1013 },
                             { 0, 1010, "ddd", "A" } } << QByteArray("aaa<3>cccddd")
                                                        << QByteArray() << 1 << 0;
    QTest::newRow("ack-too-far-ignored")
            << hs + Segs { { 0, 1001, "aaa", "A" }, { 1, 5001, "", "A", 1004 + 0x50000000 } }
            << QByteArray("aaa") << QByteArray() << 0 << 0;
    QTest::newRow("hole-at-finish")
            << hs + Segs { { 0, 1001, "aaa", "A" }, { 0, 1007, "ccc", "A" } }
            << QByteArray("aaa<3>ccc") << QByteArray() << 1 << 0;
    QTest::newRow("fin-out-of-order") << hs
                    + Segs { { 0, 1001, "abc", "A" },
                             { 0, 1007, "ghi", "FA" },
                             { 0, 1004, "def", "A" },
                             { 1, 5001, "", "A", 1011 } }
                                      << QByteArray("abcdefghi") << QByteArray() << 0 << 0;
    // Frames that state bytes they do not hold, each spanning runs that
    // wait: the runs stay, the stated bytes between them are gaps.
    QTest::newRow("empty-frames-span-waiting")
            << hs
                    + Segs { { 0, 1002, "a", "A" },
                             { 0, 1004, "b", "A" },
                             { 0, 1006, "c", "A" },
                             { 0, 1002, "", "A", 0, 10 },
                             { 0, 1002, "", "A", 0, 10 } }
            << QByteArray("<1>a<1>b<1>c<5>") << QByteArray() << 4 << 2;
    // As tshark's follow: a RST takes no sequence number, and its data and
    // what comes after it count.
    QTest::newRow("rst-data") << hs
                    + Segs { { 0, 1001, "abc", "A" },
                             { 0, 1004, "RST", "RA" },
                             { 0, 1007, "after", "A" } }
                              << QByteArray("abcRSTafter") << QByteArray() << 0 << 0;
}

void TstTcpReassembly::reassemble()
{
    QFETCH(Segs, segments);
    QFETCH(QByteArray, from_a);
    QFETCH(QByteArray, from_b);
    QFETCH(int, gaps);
    QFETCH(int, retransmissions);

    const Capture cap = capture(segments);
    TcpReassembly reassembly;
    for (const TcpSegmentIn& segment : cap.segments)
        reassembly.add(segment);
    reassembly.finish();

    const std::array<QByteArray, 2> text = render(cap, reassembly);
    QCOMPARE(text[0], from_a);
    QCOMPARE(text[1], from_b);
    QCOMPARE(reassembly.gaps(), std::int64_t(gaps));
    QCOMPARE(reassembly.retransmissions(), std::int64_t(retransmissions));
    QCOMPARE(reassembly.segments(), std::int64_t(segments.size()));

    // The counts agree with the text: bytes without the gap marks, and the
    // sum of the marks.
    const QRegularExpression mark(QStringLiteral("<(\\d+)>"));
    std::uint64_t missing = 0;
    for (int d = 0; d < 2; ++d) {
        QString shown = QString::fromLatin1(text[d]);
        for (auto it = mark.globalMatch(shown); it.hasNext();)
            missing += it.next().captured(1).toULongLong();
        QCOMPARE(reassembly.bytes()[d], static_cast<std::uint64_t>(shown.remove(mark).size()));
    }
    QCOMPARE(reassembly.missing_bytes(), missing);
}

// Events come in the order of the conversation: a direction's bytes when
// the segment that made them contiguous was captured, each with that
// segment's frame and time; earlier events never change.
void TstTcpReassembly::conversation_order()
{
    const Capture cap = capture(handshake()
                                + Segs { { 0, 1001, "q1", "A", 5001 },
                                         { 1, 5001, "r1", "A", 1003 },
                                         { 0, 1005, "q2b", "A", 5003 },
                                         { 1, 5003, "r2", "A", 1003 },
                                         { 0, 1003, "q2", "A", 5005 } });
    struct Expected
    {
        int direction;
        QByteArray bytes;
        std::int64_t piece_frame;
        std::int64_t frame;
        std::uint32_t seq;
    };
    const std::vector<Expected> expected { { 0, "q1", 4, 4, 1001 },
                                           { 1, "r1", 5, 5, 5001 },
                                           { 1, "r2", 7, 7, 5003 },
                                           { 0, "q2", 8, 8, 1003 },
                                           { 0, "q2b", 6, 8, 1005 } };

    TcpReassembly reassembly;
    std::vector<TcpStreamEvent> before;
    for (const TcpSegmentIn& segment : cap.segments) {
        reassembly.add(segment);
        const std::vector<TcpStreamEvent>& now = reassembly.events();
        QVERIFY(now.size() >= before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            QCOMPARE(now[i].piece.frame, before[i].piece.frame);
            QCOMPARE(now[i].piece.length, before[i].piece.length);
            QCOMPARE(now[i].frame, before[i].frame);
        }
        before = now;
    }

    const std::vector<TcpStreamEvent>& events = reassembly.events();
    QCOMPARE(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        QCOMPARE(events[i].kind, TcpStreamEvent::Bytes);
        QCOMPARE(events[i].direction, expected[i].direction);
        QCOMPARE(events[i].piece.direction, expected[i].direction);
        QCOMPARE(bytes_of(cap, events[i]), expected[i].bytes);
        QCOMPARE(events[i].piece.frame, expected[i].piece_frame);
        QCOMPARE(events[i].frame, expected[i].frame);
        QCOMPARE(events[i].seconds, 1000 + expected[i].frame);
        QCOMPARE(events[i].seq, expected[i].seq);
    }
}

// Bytes after a hole wait while the capture may still bring the hole's;
// finish() hands them out after a gap, once.
void TstTcpReassembly::waits_until_finish()
{
    const Capture cap = capture(handshake()
                                + Segs { { 0, 1001, "aaa", "A" },
                                         { 0, 1007, "ccc", "A" },
                                         { 1, 5001, "b", "A", 1004 } });
    TcpReassembly reassembly;
    for (const TcpSegmentIn& segment : cap.segments)
        reassembly.add(segment);
    QCOMPARE(render(cap, reassembly)[0], QByteArray("aaa"));
    QCOMPARE(reassembly.gaps(), std::int64_t(0));

    reassembly.finish();
    QCOMPARE(render(cap, reassembly)[0], QByteArray("aaa<3>ccc"));
    const TcpStreamEvent& gap = reassembly.events().at(2);
    QCOMPARE(gap.kind, TcpStreamEvent::Gap);
    QCOMPARE(gap.seq, 1004U);
    QCOMPARE(gap.frame, std::int64_t(6)); // the last segment captured

    const std::size_t count = reassembly.events().size();
    reassembly.finish();
    QCOMPARE(reassembly.events().size(), count);
    QCOMPARE(reassembly.gaps(), std::int64_t(1));
}

void TstTcpReassembly::waiting_is_bounded_data()
{
    QTest::addColumn<Segs>("segments");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArray>("from_a");
    QTest::addColumn<int>("gaps");
    QTest::addColumn<int>("given_up");
    QTest::addColumn<int>("retransmissions");

    const Segs hs = handshake();
    const Segs three_runs { { 0, 1003, "b", "A" }, { 0, 1005, "c", "A" }, { 0, 1007, "d", "A" } };
    QTest::newRow("within-the-limit")
            << hs + three_runs << 3 << QByteArray("<2>b<1>c<1>d") << 3 << 0 << 0;
    QTest::newRow("first-hole-given-up")
            << hs + three_runs << 2 << QByteArray("<2>b<1>c<1>d") << 3 << 1 << 0;
    // Bytes of a hole that was given up come too late: they count as a
    // copy of bytes handed out.
    QTest::newRow("late-bytes-of-a-given-up-hole")
            << hs + three_runs + Segs { { 0, 1001, "aa", "A" } } << 2 << QByteArray("<2>b<1>c<1>d")
            << 3 << 1 << 1;
    QTest::newRow("limit-of-one") << hs + Segs { { 0, 1003, "b", "A" }, { 0, 1006, "c", "A" } } << 1
                                  << QByteArray("<2>b<2>c") << 2 << 1 << 0;
    // A cut tail waits as a run of its own.
    QTest::newRow("cut-tails-count")
            << hs + Segs { { 0, 1003, "b", "A", 0, 2 }, { 0, 1007, "d", "A" } } << 2
            << QByteArray("<2>b<1><2>d") << 3 << 1 << 0;
}

// However the segments come, a direction never holds more runs than its
// limit: the first hole becomes a gap, counted, and what follows it goes out.
void TstTcpReassembly::waiting_is_bounded()
{
    QFETCH(Segs, segments);
    QFETCH(int, limit);
    QFETCH(QByteArray, from_a);
    QFETCH(int, gaps);
    QFETCH(int, given_up);
    QFETCH(int, retransmissions);

    const Capture cap = capture(segments);
    TcpReassembly reassembly;
    reassembly.set_waiting_limit(static_cast<std::size_t>(limit));
    for (const TcpSegmentIn& segment : cap.segments) {
        reassembly.add(segment);
        QVERIFY(reassembly.waiting(0) <= static_cast<std::size_t>(limit));
    }
    reassembly.finish();
    QCOMPARE(reassembly.waiting(0), std::size_t(0));
    QCOMPARE(render(cap, reassembly)[0], from_a);
    QCOMPARE(reassembly.gaps(), std::int64_t(gaps));
    QCOMPARE(reassembly.holes_given_up(), std::int64_t(given_up));
    QCOMPARE(reassembly.retransmissions(), std::int64_t(retransmissions));
}

void TstTcpReassembly::split_data()
{
    QTest::addColumn<Segs>("segments");
    QTest::addColumn<std::vector<int>>("expected");

    const Segs hs = handshake();
    const Segs close { { 0, 1001, "", "FA", 5001 },
                       { 1, 5001, "", "FA", 1002 },
                       { 0, 1002, "", "A", 5002 } };
    QTest::newRow("one") << hs + close << std::vector<int> { 0, 0, 0, 0, 0, 0 };
    QTest::newRow("syn-retransmitted")
            << Segs { { 0, 1000, "", "S" }, { 0, 1000, "", "S" }, { 1, 5000, "", "SA", 1001 } }
            << std::vector<int> { 0, 0, 0 };
    QTest::newRow("fin-then-new-syn")
            << hs + close + Segs { { 0, 3000, "", "S" }, { 1, 7000, "", "SA", 3001 } }
            << std::vector<int> { 0, 0, 0, 0, 0, 0, 1, 1 };
    QTest::newRow("reused-by-other-side")
            << hs + close + Segs { { 1, 9000, "", "S" }, { 0, 4000, "", "SA", 9001 } }
            << std::vector<int> { 0, 0, 0, 0, 0, 0, 1, 1 };
    QTest::newRow("syn-ack-never-splits")
            << hs + Segs { { 1, 6000, "", "SA", 1001 } } << std::vector<int> { 0, 0, 0, 0 };
    QTest::newRow("no-syn-then-syn") << Segs { { 0, 7000, "x", "A", 9000 },
                                               { 1, 9000, "y", "A", 7001 },
                                               { 0, 100, "", "S" },
                                               { 1, 200, "", "SA", 101 } }
                                     << std::vector<int> { 0, 0, 1, 1 };
}

void TstTcpReassembly::split()
{
    QFETCH(Segs, segments);
    QFETCH(std::vector<int>, expected);
    QCOMPARE(split_connections(capture(segments).segments), expected);
}

QTEST_APPLESS_MAIN(TstTcpReassembly)
#include "tst_tcpreassembly.moc"
