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

#include "memoryrelease.h"
#include "packetrows.h"

namespace {

// QTableWidgetItem's pointer to its private part, a member no API reaches.
// Naming a private member in an explicit instantiation is the one legal way
// to take its address from outside.
struct ItemPrivatePart
{
    using type = QTableWidgetItemPrivate* QTableWidgetItem::*;
    friend type private_part(ItemPrivatePart);
};

template <typename Tag, typename Tag::type Member> struct ExposeMember
{
    friend typename Tag::type private_part(Tag) { return Member; }
};

template struct ExposeMember<ItemPrivatePart, &QTableWidgetItem::d>;

// What the pool below knows of that part was read in Qt 5.15's sources.
static_assert(QT_VERSION >= QT_VERSION_CHECK(5, 15, 0) && QT_VERSION < QT_VERSION_CHECK(5, 16, 0),
              "check QTableWidgetItemPrivate before building with another Qt");

// Fixed-size blocks for the cells, carved from mappings of their own. All of
// them are unmapped when the last cell is released.
//
// A cell taken out of its table leaves Qt's private part of it (in Qt 5.15 a
// back pointer and the cell's index: nothing to destroy, only memory to free)
// in its released slot, and the release thread frees the parts of all slots
// before it unmaps the blocks. A slot used again frees its part first.
class CellPool
{
public:
    static constexpr std::size_t kCellSize = (sizeof(RecordFieldItem) + 7) & ~std::size_t(7);

    void* allocate()
    {
        void* cell = m_free;
        if (cell != nullptr) {
            ::operator delete(m_free->part);
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

    // The private part of the cell being destroyed, which the cell's release
    // right after keeps in the slot. A part left by a cell that was not
    // released (one that was not made with new) is freed at once.
    void leave_part(QTableWidgetItemPrivate* part)
    {
        ::operator delete(m_left_part);
        m_left_part = part;
    }

    // A cell of another size, not from the pool, is gone: its part too.
    void drop_left_part()
    {
        ::operator delete(m_left_part);
        m_left_part = nullptr;
    }

    void release(void* cell)
    {
        auto* free = static_cast<Free*>(cell);
        free->next = m_free;
        free->part = m_left_part;
        m_left_part = nullptr;
        m_free = free;
        if (--m_live == 0)
            unmap_all();
    }

private:
    struct Free
    {
        Free* next;
        void* part; // the cell's private part, to be freed; or null
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

    // On the release thread: freeing a million rows' parts one by one took
    // most of the time of a clear, and unmapping their blocks tens of
    // milliseconds more.
    void unmap_all()
    {
        const std::size_t last_used
                = static_cast<std::size_t>(m_next - static_cast<char*>(m_blocks.back()));
        memory_release::later([blocks = std::move(m_blocks), last_used] {
            for (void* block : blocks) {
                // Every slot handed out is released now; the last block is
                // used up to last_used.
                const std::size_t used = block == blocks.back() ? last_used : kBlockBytes;
                for (std::size_t at = 0; at < used; at += kCellSize)
                    ::operator delete(
                            reinterpret_cast<Free*>(static_cast<char*>(block) + at)->part);
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
    // By the cell being destroyed. Not next to m_free: the compiler would
    // read both in one load, which waits for the two stores just made.
    void* m_left_part = nullptr;
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
        cell_pool().drop_left_part();
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

RecordFieldItem::~RecordFieldItem()
{
    // In a table, QTableWidgetItem's destructor asks the part where the cell
    // is; out of one, it only frees it.
    if (tableWidget() != nullptr)
        return;
    QTableWidgetItemPrivate*& part = this->*private_part(ItemPrivatePart {});
    cell_pool().leave_part(part);
    part = nullptr;
}

QVariant RecordFieldItem::data(int role) const
{
    const QVariant own = QTableWidgetItem::data(role);
    if (own.isValid())
        return own;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (const PacketRows* rows = PacketRows::of(tableWidget()))
            return rows->field(row(), column());
        return own;
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return own;
    }
}

QTableWidgetItem* RecordFieldItem::clone() const
{
    return new RecordFieldItem(*this);
}
