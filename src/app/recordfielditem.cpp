// SPDX-License-Identifier: GPL-2.0-or-later

#include "recordfielditem.h"

#include <new>
#include <vector>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARNLOOK_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNLOOK_LEAK_CHECKED 1
#endif
#endif
#if defined(TARNLOOK_LEAK_CHECKED)
#include <sanitizer/lsan_interface.h>
#endif

#include "markscolumn.h"
#include "memoryrelease.h"
#include "packetrows.h"

namespace {

// Fixed-size blocks for the cells, carved from mappings of their own. All of
// them are unmapped, on the release thread, when the last cell is released.
class CellPool
{
public:
    static constexpr std::size_t kCellSize = (sizeof(RecordFieldItem) + 7) & ~std::size_t(7);

    void* allocate()
    {
        void* cell = m_free;
        if (cell != nullptr) {
            m_free = m_free->next;
        } else {
            if (m_next == m_end && !grow())
                throw std::bad_alloc();
            cell = m_next;
            m_next += kCellSize;
        }
        ++m_live;
        return cell;
    }

    void release(void* cell)
    {
        auto* free = static_cast<Free*>(cell);
        free->next = m_free;
        m_free = free;
        if (--m_live == 0)
            unmap_all();
    }

private:
    struct Free
    {
        Free* next;
    };
    static_assert(sizeof(Free) <= kCellSize);
    static constexpr std::size_t kCellsPerBlock = 65536;
    static constexpr std::size_t kBlockBytes = kCellSize * kCellsPerBlock;

    bool grow()
    {
        void* block = mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED)
            return false;
        m_blocks.push_back(block);
#if defined(TARNLOOK_LEAK_CHECKED)
        // The cells point to their heap parts: the leak checker must look
        // into the blocks, which are not heap memory of its own.
        __lsan_register_root_region(block, kBlockBytes);
#endif
        // Cells are handed out in address order, so pages are touched only
        // as they are used.
        m_next = static_cast<char*>(block);
        m_end = m_next + kBlockBytes;
        return true;
    }

    // Unmapping a million rows' blocks takes tens of milliseconds: the
    // release thread does it.
    void unmap_all()
    {
        memory_release::later([blocks = std::move(m_blocks)] {
            for (void* block : blocks) {
#if defined(TARNLOOK_LEAK_CHECKED)
                __lsan_unregister_root_region(block, kBlockBytes);
#endif
                munmap(block, kBlockBytes);
            }
        });
        m_blocks.clear();
        m_free = nullptr;
        m_next = m_end = nullptr;
    }

    std::vector<void*> m_blocks;
    Free* m_free = nullptr; // cells released while others live
    char* m_next = nullptr; // never used yet, up to m_end
    char* m_end = nullptr;
    std::size_t m_live = 0;
};

CellPool& cell_pool()
{
    static CellPool pool;
    return pool;
}

} // namespace

void* RecordFieldItem::operator new(std::size_t size)
{
    if (size != sizeof(RecordFieldItem))
        return ::operator new(size); // a class derived from this one
    return cell_pool().allocate();
}

void RecordFieldItem::operator delete(void* cell, std::size_t size)
{
    if (size != sizeof(RecordFieldItem)) {
        ::operator delete(cell);
        return;
    }
    cell_pool().release(cell);
}

RecordFieldItem::RecordFieldItem()
{
    // What was captured stays as captured.
    setFlags(flags() & ~Qt::ItemIsEditable);
}

QVariant RecordFieldItem::data(int role) const
{
    const QVariant own = QTableWidgetItem::data(role);
    if (own.isValid())
        return own;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (column() == MarksColumn::kColumn) {
            if (const MarksColumn* marks = MarksColumn::of(tableWidget()))
                return marks->text_of(row());
            return own;
        }
        if (const PacketRows* rows = PacketRows::of(tableWidget()))
            return rows->field(row(), column());
        return own;
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::ToolTipRole: // the whole of a note the cell cuts
        if (column() == MarksColumn::kColumn)
            return data(Qt::DisplayRole);
        return own;
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
        if (const MarksColumn* marks = MarksColumn::of(tableWidget())) {
            const QColor colour = role == Qt::BackgroundRole ? marks->background(row())
                                                             : marks->foreground(row());
            if (colour.isValid())
                return colour;
        }
        return own;
    default:
        return own;
    }
}

QTableWidgetItem* RecordFieldItem::clone() const
{
    return new RecordFieldItem(*this);
}
