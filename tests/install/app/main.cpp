// Creates a client, prints the library's version and releases the client.
#include "MdApi.h"

#include <cstdio>

int main()
{
    CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi();
    if (!api)
        return 1;
    std::printf("mdlink %s\n", CThostFtdcMdApi::GetApiVersion());
    api->Release();
    return 0;
}
