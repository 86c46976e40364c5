// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The packet table's rows grouped by their address and port pair, either
// way round, kept as the rows arrive: following a stream then reads the
// frames of its own rows only, never every row's. About 8 bytes per row.
class TcpPairIndex
{
public:
    // Row `row` is the next row (rows come in order from 0), a segment from
    // the first endpoint to the second.
    void add(std::string_view source, std::string_view source_port, std::string_view destination,
             std::string_view destination_port);
    void clear();

    // Counts the clears: a pair's number means another pair after one.
    std::uint64_t generation() const { return m_generation; }
    int row_count() const { return static_cast<int>(m_pair_of_row.size()); }
    // The pair of a row, or -1 for a row not indexed.
    int pair_of(int row) const;
    // The rows of a pair, ascending.
    const std::vector<int>& rows(int pair) const;

private:
    std::unordered_map<std::string, int> m_pairs;
    std::vector<std::vector<int>> m_rows;
    std::vector<int> m_pair_of_row;
    std::string m_key; // reused for every row
    std::uint64_t m_generation = 0;
};
