#include "LinkRegistry.h"

#include <map>
#include <vector>

#include "server/ObjPulsyn.h"

namespace quor {

std::shared_ptr<TfrmComm> frmComm;

namespace {

#ifdef QUOR_AUTOMATION
TLinkPolicy policy = TLinkPolicy::OneLinkPerProcess;
#else
TLinkPolicy policy = TLinkPolicy::OneLinkPerDevice;
#endif

using TLinks = std::map<std::string, std::shared_ptr<TfrmComm>>;
// Destroyed at exit, which closes the ports after their last output has gone out (unless
// AbandonLinksAtExit took them first).
TLinks table;
TLinks* const links = &table;

// frmComm is the latest link while it is held; once let go, the newest remaining is not
// known to be "latest", so frmComm stays empty until the next connect.
void ForgetLatestIfReleased() {
    if (!frmComm) return;
    for (const auto& entry : *links)
        if (entry.second == frmComm) return;
    frmComm.reset();
}

}  // namespace

TLinkPolicy LinkPolicy() { return policy; }
void SetLinkPolicy(TLinkPolicy value) { policy = value; }

std::shared_ptr<TfrmComm> LinkOnDevice(const std::string& device) {
    const auto found = links->find(device);
    return found == links->end() ? nullptr : found->second;
}

std::shared_ptr<TfrmComm> LatestLink() { return frmComm; }

void AddLink(const std::string& device, std::shared_ptr<TfrmComm> link) {
    if (policy == TLinkPolicy::OneLinkPerProcess) links->clear();
    (*links)[device] = link;
    frmComm = std::move(link);
}

void ReleaseLink(const std::string& device) {
    // The link leaves the table before it may be destroyed: its destructor can let messages
    // run, and nothing reached through them may find it.
    const auto found = links->find(device);
    if (found == links->end()) return;
    std::shared_ptr<TfrmComm> released = std::move(found->second);
    links->erase(found);
    ForgetLatestIfReleased();
    released.reset();
}

void ReleaseAllLinks() {
    std::vector<std::shared_ptr<TfrmComm>> released;
    for (auto& entry : *links) released.push_back(std::move(entry.second));
    links->clear();
    frmComm.reset();
    released.clear();
}

void AbandonLinksAtExit() {
    new std::shared_ptr<TfrmComm>(std::move(frmComm));
    new TLinks(table);
    table.clear();
}

}  // namespace quor
