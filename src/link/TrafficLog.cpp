#include "TrafficLog.h"

namespace quor {

void TTrafficLog::Append(TTrafficEntry entry) {
    FEntries.push_back(std::move(entry));
    if (OnAppend) OnAppend(FEntries.back());
}

void TTrafficLog::Clear() {
    FEntries.clear();
    if (OnClear) OnClear();
}

std::string TTrafficLog::Text() const {
    std::string text;
    for (const TTrafficEntry& entry : FEntries) text += entry.Text;
    return text;
}

}  // namespace quor
