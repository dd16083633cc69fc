// A whole read of capture files, its blocks decompressed by several threads:
//
//   plan   one pass over the block headers: the blocks in range, each given
//          room in the output for all its records (its header's count)
//   read   thread k reads blocks k, k+T, k+2T... of the plan, each with a
//          Reader of its own that walks the headers to them, and writes the
//          rows that pass into the block's room
//   pack   the rows moved down over the room filtered records left unused
//
// The first fault in reading order (a planned block's, or where the header
// walk stopped) is the one raised, as a single reader would meet it.
#include "CaptureScan.h"

#include "Gil.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace mdpy {

namespace {

struct PlannedBlock {
    std::size_t file;
    std::size_t ordinal; // of the block in its file
    std::size_t room;    // first row of its room in the output
    std::size_t rows = 0;
    std::string fault;
};

struct Plan {
    std::vector<PlannedBlock> blocks;
    std::size_t rows = 0; // room for every planned block
    std::string fault;    // where the header walk stopped, after every planned block
};

Plan MakePlan(const std::vector<std::string>& paths, const RowFilter& filter)
{
    Plan plan;
    for (std::size_t f = 0; f < paths.size() && plan.fault.empty(); ++f) {
        std::string error;
        std::unique_ptr<mdcapture::Reader> r = mdcapture::Reader::Open(paths[f], error);
        if (!r) {
            plan.fault = error;
            break;
        }
        mdcapture::BlockInfo info{};
        for (std::size_t ordinal = 0; r->NextBlock(info); ++ordinal) {
            if (!filter.InRange(info))
                continue;
            plan.blocks.push_back({f, ordinal, plan.rows, 0, {}});
            plan.rows += info.records;
        }
        plan.fault = r->StopText();
    }
    return plan;
}

// Reads every `step`-th planned block from `first`; stops at its first fault.
void ReadEvery(const std::vector<std::string>& paths, const RowFilter& filter, Plan& plan, std::size_t first,
               std::size_t step, unsigned char* out)
{
    std::unique_ptr<mdcapture::Reader> r;
    std::size_t file = 0, ordinal = 0; // the block r->NextBlock gives next
    std::vector<mdcapture::RecordView> views;
    for (std::size_t k = first; k < plan.blocks.size(); k += step) {
        PlannedBlock& b = plan.blocks[k];
        if (!r || file != b.file) {
            std::string error;
            r = mdcapture::Reader::Open(paths[b.file], error);
            if (!r) {
                b.fault = error;
                return;
            }
            file = b.file;
            ordinal = 0;
        }
        mdcapture::BlockInfo info{};
        bool found = true;
        for (; found && ordinal <= b.ordinal; ++ordinal)
            found = r->NextBlock(info);
        if (!found || !r->ReadBlock(views)) {
            b.fault = r->StopText();
            return;
        }
        std::size_t next = 0;
        b.rows = filter.Copy(views, next, info.records, out + b.room * CaptureScan::RowSize);
    }
}

void ReadBlocks(const std::vector<std::string>& paths, const RowFilter& filter, Plan& plan, std::size_t first,
                std::size_t step, unsigned char* out)
{
    try {
        ReadEvery(paths, filter, plan, first, step, out);
    } catch (const std::exception& e) {
        // Nothing may leave a thread; the block it was on cannot be read.
        for (std::size_t k = first; k < plan.blocks.size(); k += step)
            if (plan.blocks[k].rows == 0 && plan.blocks[k].fault.empty()) {
                plan.blocks[k].fault = paths[plan.blocks[k].file] + ": " + e.what();
                break;
            }
    }
}

} // namespace

std::unique_ptr<CaptureRows> ReadAllRows(const std::vector<std::string>& paths, const CaptureFilter& f,
                                         unsigned threads)
{
    GilRelease unlocked;
    const RowFilter filter(f);
    Plan plan = MakePlan(paths, filter);
    auto out = std::make_unique<CaptureRows>(plan.rows * CaptureScan::RowSize);
    const std::size_t step = std::max<std::size_t>(1, std::min<std::size_t>(threads, plan.blocks.size()));
    std::vector<std::thread> workers;
    for (std::size_t k = 1; k < step; ++k)
        workers.emplace_back(ReadBlocks, std::cref(paths), std::cref(filter), std::ref(plan), k, step,
                             out->Data());
    ReadBlocks(paths, filter, plan, 0, step, out->Data());
    for (std::thread& t : workers)
        t.join();
    std::size_t rows = 0;
    for (const PlannedBlock& b : plan.blocks) {
        if (!b.fault.empty())
            throw CaptureFault(b.fault);
        std::memmove(out->Data() + rows * CaptureScan::RowSize, out->Data() + b.room * CaptureScan::RowSize,
                     b.rows * CaptureScan::RowSize);
        rows += b.rows;
    }
    if (!plan.fault.empty())
        throw CaptureFault(plan.fault);
    out->SetSize(rows * CaptureScan::RowSize);
    return out;
}

} // namespace mdpy
