#include "TrafficLog.h"

namespace quor {

void TTrafficLog::Append(TTrafficEntry entry) {
    const TLogBudget::TDrop drop = FBudget.MakeRoom(FBudget.Kept(), entry.Text.size());
    FEntries.erase(FEntries.begin(), FEntries.begin() + static_cast<std::ptrdiff_t>(drop.Entries));
    FBudget.Appended(entry.Text.size());
    FEntries.push_back(std::move(entry));
    if (OnAppend) OnAppend(FEntries.back());
}

void TTrafficLog::Clear() {
    FEntries.clear();
    FBudget.Clear();
    if (OnClear) OnClear();
}

}  // namespace quor
