#include "FaultRegistry.h"

namespace mdfront {

namespace {

// A fault's entry over all the settings: its flags and its fault read and
// write their own part of FrontFaults.
template <class F>
FaultKind KindOf()
{
    using S = typename F::Settings;
    const EntryOf<S> entry = F::Entry();
    FaultKind kind;
    for (const FlagOf<S>& flag : entry.flags)
        kind.flags.push_back(
            {flag.name, flag.value, flag.help,
             [parse = flag.parse](const std::string& v, FrontFaults& f) { return parse(v, f); }});
    kind.make = [make = entry.make](const FrontFaults& f) { return make(f); };
    return kind;
}

template <class... F>
std::vector<FaultKind> KindsOf(FaultList<F...>*)
{
    return {KindOf<F>()...};
}

} // namespace

const std::vector<FaultKind>& FaultKinds()
{
    static const std::vector<FaultKind> all = KindsOf(static_cast<Faults*>(nullptr));
    return all;
}

std::vector<std::unique_ptr<Fault>> MakeFaults(const FrontFaults& settings)
{
    std::vector<std::unique_ptr<Fault>> out;
    for (const FaultKind& kind : FaultKinds())
        if (auto fault = kind.make(settings))
            out.push_back(std::move(fault));
    return out;
}

} // namespace mdfront
