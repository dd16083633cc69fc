// The pending one-shot timers of the whole process, as plain data: an indexed
// min-heap ordered by (deadline, arming order), an id table and, per owner,
// a list of its pending timers in arming order. No locking, no clock, no I/O:
// TimerService adds those.
//
// Ids: a 32-bit counter that skips 0 and every value whose slot in the
// direct-mapped table (indexed by id & mask) is taken by a pending timer. The
// table doubles before it is half full; pending ids stay distinct in their low
// bits, so growing never collides. An id is therefore never that of another
// pending timer, even after the counter wraps, and lookup is O(1).
//
// Nodes are recycled through a free list: arming and cancelling allocate
// nothing once the pools have grown to the peak number of pending timers.
//
// The client cancels and re-arms one idle timer per received frame. So a
// cancelled node is not taken out of the heap at once: it stays there,
// parked, as its owner's one spare (any further cancel removes for real),
// and the owner's next Arm reuses it in O(1). A parked node keeps its place
// in its owner's list too, so that parking and re-arming it touch neither
// list; it no longer counts as pending and has no id. A node's place in the
// heap is kept by a key that is never later than its deadline; a node
// re-armed for later keeps its old key until it reaches the top, where it is
// re-keyed, and a parked node that reaches the top is freed. Parked nodes
// are at most one per owner, so memory stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo {

constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;

// Per-owner bookkeeping; the queue links the owner's nodes through it.
struct TimerOwner {
    std::uint32_t first = kNoNode;  // armed earliest (pending or parked)
    std::uint32_t last = kNoNode;   // armed latest (pending or parked)
    std::uint32_t count = 0;        // pending
    std::uint32_t parked = kNoNode; // a cancelled node still in the heap and the list
};

class TimerQueue {
public:
    struct Due {
        std::uint32_t id;
        int user;
        TimerOwner* owner;
    };

    // ownerCap: pending timers one owner may hold; arming one more cancels
    // that owner's earliest-armed timer.
    explicit TimerQueue(std::uint32_t ownerCap);

    std::uint32_t Arm(TimerOwner* owner, std::int64_t deadline, int user)
    {
        std::uint32_t id;
        return ArmInPlace(owner, deadline, user, id) ? id : ArmSlow(owner, deadline, user);
    }

    // The per-frame re-arm, inline and without allocating: arms on the
    // owner's parked node where that node can keep its place in the heap.
    // False, and nothing changed, where it cannot (no parked node, the owner
    // or the id table full, or a deadline before the node's place).
    bool ArmInPlace(TimerOwner* owner, std::int64_t deadline, int user, std::uint32_t& id) noexcept
    {
        const std::uint32_t index = owner->parked;
        // The latest in the owner's list already, as arming makes it.
        if (index == kNoNode || index != owner->last || owner->count >= ownerCap_ || pending_ >= growAt_ ||
            deadline < nodes_[index].key)
            return false;
        owner->parked = kNoNode;
        id = Fill(index, owner, deadline, user);
        return true;
    }

    // False for 0, unknown ids and ids of another owner.
    bool Cancel(TimerOwner* owner, std::uint32_t id) noexcept
    {
        const std::uint32_t index = slots_[id & mask_];
        // Only pending nodes have a slot, and their ids are not 0: 0 never
        // matches.
        if (index == kNoNode || nodes_[index].id != id || nodes_[index].owner != owner)
            return false;
        if (owner->parked != kNoNode) {
            Remove(index);
        } else {
            Park(index, owner);
        }
        return true;
    }
    void CancelAll(TimerOwner* owner);

    // Pending timers (parked nodes do not count).
    bool Empty() const { return pending_ == 0; }
    std::size_t Size() const { return pending_; }
    // Deadline of the earliest pending timer; not Empty() only.
    std::int64_t EarliestDeadline();

    // Serial the next Arm will get; timers armed from now on compare >=.
    std::uint64_t NextSerial() const { return serial_; }
    // Removes the earliest timer into out if its deadline is <= now and it
    // was armed before serialLimit.
    bool PopDue(std::int64_t now, std::uint64_t serialLimit, Due& out);

    // Lets tests reach the counter's wrap without arming 2^32 timers.
    void SetNextIdForTest(std::uint32_t next) { nextId_ = next; }
    std::size_t IdTableSizeForTest() const { return slots_.size(); }
    std::size_t NodeCountForTest() const { return nodes_.size(); }

private:
    struct Node {
        std::int64_t key; // heap order: (key, keySerial) <= (deadline, serial)
        std::uint64_t keySerial;
        std::int64_t deadline;
        std::uint64_t serial;
        TimerOwner* owner;
        std::uint32_t id;
        int user;
        std::uint32_t heapPos;
        std::uint32_t prev; // owner list
        std::uint32_t next; // owner list, or free list
    };

    bool Before(std::uint32_t a, std::uint32_t b) const noexcept
    {
        const Node& x = nodes_[a];
        const Node& y = nodes_[b];
        return x.key < y.key || (x.key == y.key && x.keySerial < y.keySerial);
    }

    std::uint32_t ArmSlow(TimerOwner* owner, std::int64_t deadline, int user);
    std::uint32_t NewNode();
    void GrowIds();

    std::uint32_t NewId() noexcept
    {
        // Terminates: the table is less than half full, so a free slot is at
        // most (pending + 1) values away. 0 is skipped where it wraps.
        std::uint32_t id = nextId_;
        while (id == 0 || slots_[id & mask_] != kNoNode)
            ++id;
        nextId_ = id + 1;
        return id;
    }

    // Makes node index, which names owner and is the latest in its list,
    // pending with a new id; its place in the heap is the caller's.
    std::uint32_t Fill(std::uint32_t index, TimerOwner* owner, std::int64_t deadline, int user) noexcept
    {
        Node& node = nodes_[index];
        node.deadline = deadline;
        node.serial = serial_++;
        const std::uint32_t id = NewId();
        node.id = id;
        node.user = user;
        ++owner->count;
        ++pending_;
        slots_[id & mask_] = index;
        return id;
    }

    // Takes a pending node off the id table and the counts: it stays in the
    // heap and its owner's list.
    void Retire(std::uint32_t index, TimerOwner* owner) noexcept
    {
        Node& node = nodes_[index];
        slots_[node.id & mask_] = kNoNode;
        node.id = 0;
        --owner->count;
        --pending_;
    }

    void Park(std::uint32_t index, TimerOwner* owner) noexcept
    {
        Retire(index, owner);
        owner->parked = index;
    }

    void Append(std::uint32_t index, TimerOwner* owner) noexcept;
    void Unlink(std::uint32_t index, TimerOwner* owner) noexcept;
    // Frees the owner's parked node.
    void Discard(TimerOwner* owner) noexcept;
    void Remove(std::uint32_t node) noexcept;
    void Free(std::uint32_t node) noexcept;
    // Frees parked nodes and re-keys moved nodes at the top until the top
    // is a pending node in its true place; false when the heap runs empty.
    bool SettleTop();
    void HeapPush(std::uint32_t node);
    void HeapErase(std::uint32_t pos) noexcept;
    void SiftUp(std::uint32_t pos) noexcept;
    void SiftDown(std::uint32_t pos) noexcept;
    void Place(std::uint32_t pos, std::uint32_t node) noexcept;

    std::vector<Node> nodes_;
    std::vector<std::uint32_t> heap_;  // node indices
    std::vector<std::uint32_t> slots_; // id & mask -> node index, or kNoNode
    std::uint32_t mask_;
    std::size_t growAt_; // the table doubles when this many are pending
    std::uint32_t freeHead_ = kNoNode;
    std::uint32_t nextId_ = 1;
    std::uint32_t ownerCap_;
    std::uint64_t serial_ = 0;
    std::size_t pending_ = 0;
};

} // namespace kelvo
