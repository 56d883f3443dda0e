#include "ErrorInfo.h"

#include "server/QuorLibIds.h"

namespace quor {

namespace {
thread_local TErrorInfoRecord g_record;
}

void SetPulsynErrorInfo(const std::string& description) {
    g_record = {kIPulsynIdText, kPulsynProgId, description};
}

void SetFailureDetails(TFailureKind kind, int32_t systemErrorCode) {
    g_record.Kind = kind;
    g_record.SystemErrorCode = systemErrorCode;
}

const TErrorInfoRecord& LastErrorInfo() { return g_record; }
void ClearErrorInfo() { g_record = {}; }

}  // namespace quor
