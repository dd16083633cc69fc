// MinGW build only: the bodies behind the Visual C++ names of
// CThostFtdcMdApi's special members that mdlink64.def exports. A Visual C++
// build of the library generates them itself; these do what those do.
//
// The class is abstract and has no data members, so on the Windows x64
// calling convention (this in rcx, result in rax) its constructors only set
// the virtual table pointer and return this, its destructor does nothing and
// its assignment returns this. Its table, as Visual C++ lays it out, is 15
// slots that end the program if called, after one pointer to the class's
// run-time type information, which we cannot build without the Visual C++
// runtime and leave null: it is read only while an object is of that exact
// (abstract) type, that is inside these constructors.
#include <cstdlib>

namespace mdlink {

struct MsvcAbstractTable {
    const void* typeInformation;
    void (*slots[15])();
};

[[noreturn]] void PureVirtualCalled()
{
    std::abort();
}

} // namespace mdlink

using mdlink::PureVirtualCalled;

extern "C" {

extern const mdlink::MsvcAbstractTable mdlink_msvc_api_table;
const mdlink::MsvcAbstractTable mdlink_msvc_api_table = {
    nullptr,
    {PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled,
     PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled,
     PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled, PureVirtualCalled}};

void* mdlink_msvc_api_construct(void* self)
{
    *static_cast<const void**>(self) = mdlink_msvc_api_table.slots;
    return self;
}

void* mdlink_msvc_api_assign(void* self, const void*)
{
    return self;
}

void mdlink_msvc_api_destroy(void*)
{}
}

// The exported table starts at the first slot.
asm(".globl mdlink_msvc_api_vftable\n\t"
    ".set mdlink_msvc_api_vftable, mdlink_msvc_api_table + 8");
