// Linked into each shared library of a build that carries its own copy of
// GCC's unwinder (MDLINK_STATIC_RUNTIME). That copy fills its table of
// register sizes the first time it unwinds. An exception raised by another
// unwinder (the application's libgcc_s, or the other library's copy) and
// caught in this library has this library's personality routine set the
// landing pad's registers through this copy, which aborts while its table is
// still empty. One exception thrown and caught at load time fills it.
namespace {

[[gnu::noinline]] void Throw()
{
    throw 0;
}

struct FillRegisterSizes {
    FillRegisterSizes()
    {
        try {
            Throw();
        } catch (int) {}
    }
} g_fillRegisterSizes;

} // namespace
