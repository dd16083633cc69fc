#include "NewClient.h"

#include <cstdlib>

namespace mdtools {

namespace {

CThostFtdcMdApi* NewSingleClient()
{
    return CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
}

} // namespace

// The links are plain clients of the shared library, which makes them only
// while MDLINK_LINKS does not ask for more.
CThostFtdcMdApi* NewClient(int links, mdlink::CRedundantMdApi*& redundant)
{
    redundant = nullptr;
    if (links == 0)
        return NewSingleClient();
#ifdef _WIN32
    _putenv_s("MDLINK_LINKS", "");
#else
    unsetenv("MDLINK_LINKS");
#endif
    if (links == 1)
        return NewSingleClient();
    redundant = mdlink::CRedundantMdApi::Create(links, &NewSingleClient);
    return redundant;
}

} // namespace mdtools
