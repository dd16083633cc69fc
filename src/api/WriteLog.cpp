// WriteLog: one record per call in the layout of log/LogRecord.h, handed to
// the client's log under the module name "KVMDApi".
#include "api/MdClient.h"
#include "log/LogRecord.h"

void CKelvoMDClient::WriteLog(int level, const char* tag, const char* format, ...)
{
    if (!Logger)
        return;
    va_list args;
    va_start(args, format);
    mdlink::WriteLogRecord(*Logger, level, "KVMDApi", tag, format, args);
    va_end(args);
}
