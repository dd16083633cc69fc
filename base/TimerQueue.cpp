#include "TimerQueue.h"

namespace kelvo {

namespace {
constexpr std::uint32_t kInitialIdSlots = 64;
}

TimerQueue::TimerQueue(std::uint32_t ownerCap)
    : m_slots(kInitialIdSlots, kNoNode), m_mask(kInitialIdSlots - 1), m_growAt(kInitialIdSlots / 2),
      m_ownerCap(ownerCap == 0 ? 1 : ownerCap)
{
}

std::uint32_t TimerQueue::ArmSlow(TimerOwner* owner, std::int64_t deadline, int user)
{
    if (owner->count >= m_ownerCap) {
        const std::uint32_t first = owner->first != owner->parked ? owner->first : m_nodes[owner->first].next;
        Cancel(owner, m_nodes[first].id);
    }
    if (m_pending >= m_growAt)
        GrowIds();

    const std::uint32_t parked = owner->parked;
    std::uint32_t index;
    if (parked != kNoNode) {
        // Latest in the list from now on.
        index = parked;
        owner->parked = kNoNode;
        Unlink(index, owner);
    } else {
        index = NewNode();
        m_nodes[index].owner = owner;
    }
    Append(index, owner);
    const std::uint32_t id = Fill(index, owner, deadline, user);
    Node& node = m_nodes[index];
    if (parked == kNoNode) {
        node.key = deadline;
        node.keySerial = node.serial;
        HeapPush(index);
    } else if (deadline < node.key) {
        // Earlier than its place: move it up now. Later: it keeps its
        // place until it reaches the top.
        node.key = deadline;
        node.keySerial = node.serial;
        SiftUp(node.heapPos);
    }
    return id;
}

void TimerQueue::CancelAll(TimerOwner* owner)
{
    if (owner->parked != kNoNode)
        Discard(owner);
    while (owner->first != kNoNode)
        Remove(owner->first);
}

bool TimerQueue::SettleTop()
{
    while (!m_heap.empty()) {
        const std::uint32_t index = m_heap.front();
        Node& node = m_nodes[index];
        if (node.id == 0) {
            Discard(node.owner);
        } else if (node.key != node.deadline || node.keySerial != node.serial) {
            node.key = node.deadline;
            node.keySerial = node.serial;
            SiftDown(0);
        } else {
            return true;
        }
    }
    return false;
}

std::int64_t TimerQueue::EarliestDeadline()
{
    SettleTop();
    return m_nodes[m_heap.front()].deadline;
}

bool TimerQueue::PopDue(std::int64_t now, std::uint64_t serialLimit, Due& out)
{
    if (!SettleTop())
        return false;
    const std::uint32_t index = m_heap.front();
    const Node& node = m_nodes[index];
    if (node.deadline > now || node.serial >= serialLimit)
        return false;
    out.id = node.id;
    out.user = node.user;
    out.owner = node.owner;
    Remove(index);
    return true;
}

std::uint32_t TimerQueue::NewNode()
{
    if (m_freeHead != kNoNode) {
        const std::uint32_t index = m_freeHead;
        m_freeHead = m_nodes[index].next;
        return index;
    }
    m_nodes.push_back(Node());
    return static_cast<std::uint32_t>(m_nodes.size() - 1);
}

void TimerQueue::GrowIds()
{
    std::vector<std::uint32_t> slots(m_slots.size() * 2, kNoNode);
    const std::uint32_t mask = static_cast<std::uint32_t>(slots.size() - 1);
    for (std::uint32_t index : m_heap)
        if (m_nodes[index].id != 0)
            slots[m_nodes[index].id & mask] = index;
    m_slots.swap(slots);
    m_mask = mask;
    m_growAt = m_slots.size() / 2;
}

void TimerQueue::Append(std::uint32_t index, TimerOwner* owner) noexcept
{
    Node& node = m_nodes[index];
    node.prev = owner->last;
    node.next = kNoNode;
    if (owner->last != kNoNode)
        m_nodes[owner->last].next = index;
    else
        owner->first = index;
    owner->last = index;
}

// Takes a node off its owner's list only.
void TimerQueue::Unlink(std::uint32_t index, TimerOwner* owner) noexcept
{
    const Node& node = m_nodes[index];
    if (node.prev != kNoNode)
        m_nodes[node.prev].next = node.next;
    else
        owner->first = node.next;
    if (node.next != kNoNode)
        m_nodes[node.next].prev = node.prev;
    else
        owner->last = node.prev;
}

void TimerQueue::Remove(std::uint32_t index) noexcept
{
    TimerOwner* owner = m_nodes[index].owner;
    Retire(index, owner);
    Unlink(index, owner);
    HeapErase(m_nodes[index].heapPos);
    Free(index);
}

void TimerQueue::Discard(TimerOwner* owner) noexcept
{
    const std::uint32_t index = owner->parked;
    owner->parked = kNoNode;
    Unlink(index, owner);
    HeapErase(m_nodes[index].heapPos);
    Free(index);
}

void TimerQueue::Free(std::uint32_t index) noexcept
{
    Node& node = m_nodes[index];
    node.owner = nullptr;
    node.id = 0;
    node.next = m_freeHead;
    m_freeHead = index;
}

void TimerQueue::Place(std::uint32_t pos, std::uint32_t index) noexcept
{
    m_heap[pos] = index;
    m_nodes[index].heapPos = pos;
}

void TimerQueue::HeapPush(std::uint32_t index)
{
    m_heap.push_back(index);
    m_nodes[index].heapPos = static_cast<std::uint32_t>(m_heap.size() - 1);
    SiftUp(m_nodes[index].heapPos);
}

void TimerQueue::HeapErase(std::uint32_t pos) noexcept
{
    const std::uint32_t lastPos = static_cast<std::uint32_t>(m_heap.size() - 1);
    if (pos != lastPos) {
        Place(pos, m_heap[lastPos]);
        m_heap.pop_back();
        if (pos > 0 && Before(m_heap[pos], m_heap[(pos - 1) / 2]))
            SiftUp(pos);
        else
            SiftDown(pos);
    } else {
        m_heap.pop_back();
    }
}

void TimerQueue::SiftUp(std::uint32_t pos) noexcept
{
    const std::uint32_t index = m_heap[pos];
    while (pos > 0) {
        const std::uint32_t parent = (pos - 1) / 2;
        if (!Before(index, m_heap[parent]))
            break;
        Place(pos, m_heap[parent]);
        pos = parent;
    }
    Place(pos, index);
}

void TimerQueue::SiftDown(std::uint32_t pos) noexcept
{
    const std::uint32_t index = m_heap[pos];
    const std::uint32_t size = static_cast<std::uint32_t>(m_heap.size());
    for (;;) {
        std::uint32_t child = pos * 2 + 1;
        if (child >= size)
            break;
        if (child + 1 < size && Before(m_heap[child + 1], m_heap[child]))
            ++child;
        if (!Before(m_heap[child], index))
            break;
        Place(pos, m_heap[child]);
        pos = child;
    }
    Place(pos, index);
}

}  // namespace kelvo
