// The device link's window half: the monitor shows the traffic log as it grows, its Clear
// button empties the log, and the log is saved through it.
#include "CommUnit.h"

namespace quor {

void TfrmComm::ConnectMonitor() {
    FMonitor = std::make_unique<TMonitorWindow>(FLog);
    TMonitorWindow* monitor = FMonitor.get();
    FLog.OnAppend = [monitor](const TTrafficEntry& entry) { monitor->Append(entry); };
    FLog.OnClear = [monitor] { monitor->Clear(); };
    monitor->OnClearClick = [this] { FLog.Clear(); };
}

void TfrmComm::ShowMonitor() { FMonitor->Show(); }

void TfrmComm::SaveSessionCommands(const std::string& fileNameUtf8) { FMonitor->Save(fileNameUtf8); }

}  // namespace quor
