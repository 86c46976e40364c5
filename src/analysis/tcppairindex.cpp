// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcppairindex.h"

void TcpPairIndex::add(std::string_view source, std::string_view source_port,
                       std::string_view destination, std::string_view destination_port)
{
    // Both directions give one key: the smaller endpoint first. A space
    // cannot occur in an address or a port.
    const auto endpoint_less = [&] {
        if (source != destination)
            return source < destination;
        return source_port < destination_port;
    };
    const bool forward = endpoint_less();
    m_key.clear();
    m_key.append(forward ? source : destination).append(1, ' ');
    m_key.append(forward ? source_port : destination_port).append(1, ' ');
    m_key.append(forward ? destination : source).append(1, ' ');
    m_key.append(forward ? destination_port : source_port);
    auto found = m_pairs.find(m_key);
    if (found == m_pairs.end()) {
        found = m_pairs.emplace(m_key, static_cast<int>(m_rows.size())).first;
        m_rows.emplace_back();
    }
    const int row = static_cast<int>(m_pair_of_row.size());
    m_rows[static_cast<std::size_t>(found->second)].push_back(row);
    m_pair_of_row.push_back(found->second);
}

void TcpPairIndex::clear()
{
    ++m_generation;
    m_pairs.clear();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_pair_of_row.clear();
    m_pair_of_row.shrink_to_fit();
}

int TcpPairIndex::pair_of(int row) const
{
    if (row < 0 || row >= row_count())
        return -1;
    return m_pair_of_row[static_cast<std::size_t>(row)];
}

const std::vector<int>& TcpPairIndex::rows(int pair) const
{
    static const std::vector<int> none;
    if (pair < 0 || pair >= static_cast<int>(m_rows.size()))
        return none;
    return m_rows[static_cast<std::size_t>(pair)];
}
