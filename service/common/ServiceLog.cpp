#include "common/ServiceLog.h"

#include "LogWriter.h"

namespace zoscsi {

void ServiceLog(int level, const char* where, const std::string& text) {
    boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
    if (writer && writer->GetLevel() >= level) writer->Write(level, where, 0, 0, 0, "%s", text.c_str());
}

}  // namespace zoscsi
