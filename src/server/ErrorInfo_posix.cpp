#include "ErrorInfo.h"

#include "server/QuorLibIds.h"

namespace quor {

namespace {
thread_local TErrorInfoRecord g_record;
}

void SetPulsynErrorInfo(const std::string& description) {
    g_record = {kIPulsynIdText, kPulsynProgId, description, TFailureKind::General, 0, {}};
}

void SetFailureDetails(TFailureKind kind, int32_t systemErrorCode, const std::string& parameter) {
    g_record.Kind = kind;
    g_record.SystemErrorCode = systemErrorCode;
    g_record.Parameter = parameter;
}

const TErrorInfoRecord& LastErrorInfo() { return g_record; }
void ClearErrorInfo() { g_record = {}; }

}  // namespace quor
