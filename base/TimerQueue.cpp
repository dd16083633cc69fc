#include "TimerQueue.h"

namespace kelvo {

namespace {
constexpr std::uint32_t kInitialIdSlots = 64;
}

TimerQueue::TimerQueue(std::uint32_t ownerCap)
    : slots_(kInitialIdSlots, kNoNode), mask_(kInitialIdSlots - 1), growAt_(kInitialIdSlots / 2),
      ownerCap_(ownerCap == 0 ? 1 : ownerCap)
{}

std::uint32_t TimerQueue::ArmSlow(TimerOwner* owner, std::int64_t deadline, int user)
{
    if (owner->count >= ownerCap_) {
        const std::uint32_t first = owner->first != owner->parked ? owner->first : nodes_[owner->first].next;
        Cancel(owner, nodes_[first].id);
    }
    if (pending_ >= growAt_)
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
        nodes_[index].owner = owner;
    }
    Append(index, owner);
    const std::uint32_t id = Fill(index, owner, deadline, user);
    Node& node = nodes_[index];
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
    while (!heap_.empty()) {
        const std::uint32_t index = heap_.front();
        Node& node = nodes_[index];
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
    return nodes_[heap_.front()].deadline;
}

bool TimerQueue::PopDue(std::int64_t now, std::uint64_t serialLimit, Due& out)
{
    if (!SettleTop())
        return false;
    const std::uint32_t index = heap_.front();
    const Node& node = nodes_[index];
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
    if (freeHead_ != kNoNode) {
        const std::uint32_t index = freeHead_;
        freeHead_ = nodes_[index].next;
        return index;
    }
    nodes_.push_back(Node());
    return static_cast<std::uint32_t>(nodes_.size() - 1);
}

void TimerQueue::GrowIds()
{
    std::vector<std::uint32_t> slots(slots_.size() * 2, kNoNode);
    const std::uint32_t mask = static_cast<std::uint32_t>(slots.size() - 1);
    for (std::uint32_t index : heap_)
        if (nodes_[index].id != 0)
            slots[nodes_[index].id & mask] = index;
    slots_.swap(slots);
    mask_ = mask;
    growAt_ = slots_.size() / 2;
}

void TimerQueue::Append(std::uint32_t index, TimerOwner* owner) noexcept
{
    Node& node = nodes_[index];
    node.prev = owner->last;
    node.next = kNoNode;
    if (owner->last != kNoNode)
        nodes_[owner->last].next = index;
    else
        owner->first = index;
    owner->last = index;
}

// Takes a node off its owner's list only.
void TimerQueue::Unlink(std::uint32_t index, TimerOwner* owner) noexcept
{
    const Node& node = nodes_[index];
    if (node.prev != kNoNode)
        nodes_[node.prev].next = node.next;
    else
        owner->first = node.next;
    if (node.next != kNoNode)
        nodes_[node.next].prev = node.prev;
    else
        owner->last = node.prev;
}

void TimerQueue::Remove(std::uint32_t index) noexcept
{
    TimerOwner* owner = nodes_[index].owner;
    Retire(index, owner);
    Unlink(index, owner);
    HeapErase(nodes_[index].heapPos);
    Free(index);
}

void TimerQueue::Discard(TimerOwner* owner) noexcept
{
    const std::uint32_t index = owner->parked;
    owner->parked = kNoNode;
    Unlink(index, owner);
    HeapErase(nodes_[index].heapPos);
    Free(index);
}

void TimerQueue::Free(std::uint32_t index) noexcept
{
    Node& node = nodes_[index];
    node.owner = nullptr;
    node.id = 0;
    node.next = freeHead_;
    freeHead_ = index;
}

void TimerQueue::Place(std::uint32_t pos, std::uint32_t index) noexcept
{
    heap_[pos] = index;
    nodes_[index].heapPos = pos;
}

void TimerQueue::HeapPush(std::uint32_t index)
{
    heap_.push_back(index);
    nodes_[index].heapPos = static_cast<std::uint32_t>(heap_.size() - 1);
    SiftUp(nodes_[index].heapPos);
}

void TimerQueue::HeapErase(std::uint32_t pos) noexcept
{
    const std::uint32_t lastPos = static_cast<std::uint32_t>(heap_.size() - 1);
    if (pos != lastPos) {
        Place(pos, heap_[lastPos]);
        heap_.pop_back();
        if (pos > 0 && Before(heap_[pos], heap_[(pos - 1) / 2]))
            SiftUp(pos);
        else
            SiftDown(pos);
    } else {
        heap_.pop_back();
    }
}

void TimerQueue::SiftUp(std::uint32_t pos) noexcept
{
    const std::uint32_t index = heap_[pos];
    while (pos > 0) {
        const std::uint32_t parent = (pos - 1) / 2;
        if (!Before(index, heap_[parent]))
            break;
        Place(pos, heap_[parent]);
        pos = parent;
    }
    Place(pos, index);
}

void TimerQueue::SiftDown(std::uint32_t pos) noexcept
{
    const std::uint32_t index = heap_[pos];
    const std::uint32_t size = static_cast<std::uint32_t>(heap_.size());
    for (;;) {
        std::uint32_t child = pos * 2 + 1;
        if (child >= size)
            break;
        if (child + 1 < size && Before(heap_[child + 1], heap_[child]))
            ++child;
        if (!Before(heap_[child], index))
            break;
        Place(pos, heap_[child]);
        pos = child;
    }
    Place(pos, index);
}

} // namespace kelvo
