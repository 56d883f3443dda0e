#include "LinkRegistry.h"

#include <map>
#include <mutex>
#include <vector>

#include "link/CommUnit.h"
#include "server/ObjPulsyn.h"

namespace quor {

std::shared_ptr<TfrmComm> frmComm;

namespace {

#ifdef QUOR_AUTOMATION
TLinkPolicy policy = TLinkPolicy::OneLinkPerProcess;
#else
TLinkPolicy policy = TLinkPolicy::OneLinkPerDevice;
#endif

// Taken again by the same thread when closing a port lets a nested call reach the registry.
std::recursive_mutex& Lock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;  // used until the process ends
    return *lock;
}

std::map<std::string, std::weak_ptr<TConnection>>& Table() {
    static auto* table = new std::map<std::string, std::weak_ptr<TConnection>>;
    return *table;
}

std::vector<std::shared_ptr<TConnection>> LiveConnections() {
    std::vector<std::shared_ptr<TConnection>> live;
    for (const auto& entry : Table())
        if (auto connection = entry.second.lock()) live.push_back(std::move(connection));
    return live;
}

bool IsOpen(const std::shared_ptr<TConnection>& connection) {
    return connection && connection->Link->Port() > 0;
}

}  // namespace

TConnection::TConnection(std::string key, std::shared_ptr<TfrmComm> link) : Key(std::move(key)), Link(std::move(link)) {}

TConnection::~TConnection() {
    Link->ClosePort();
    ForgetLatestLink(Link.get());
}

TLinkPolicy LinkPolicy() {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return policy;
}

void SetLinkPolicy(TLinkPolicy value) {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    policy = value;
}

std::shared_ptr<TConnection> ConnectionOnDevice(const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    const auto found = Table().find(key);
    std::shared_ptr<TConnection> connection = found == Table().end() ? nullptr : found->second.lock();
    return IsOpen(connection) ? connection : nullptr;
}

std::shared_ptr<TConnection> LatestConnection() {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    for (auto& connection : LiveConnections())
        if (connection->Link == frmComm && IsOpen(connection)) return connection;
    return nullptr;
}

void AddConnection(const std::shared_ptr<TConnection>& connection) {
    std::vector<std::shared_ptr<TConnection>> replaced;
    {
        std::lock_guard<std::recursive_mutex> guard(Lock());
        if (policy == TLinkPolicy::OneLinkPerProcess) {
            for (auto& other : LiveConnections())
                if (other != connection) replaced.push_back(std::move(other));
            Table().clear();
        }
        Table()[connection->Key] = connection;
        frmComm = connection->Link;
    }
    for (const auto& other : replaced) other->Link->ClosePort();
}

void CloseConnection(const std::string& key) {
    std::shared_ptr<TConnection> connection;
    {
        std::lock_guard<std::recursive_mutex> guard(Lock());
        const auto found = Table().find(key);
        if (found == Table().end()) return;
        connection = found->second.lock();
        Table().erase(found);
    }
    if (connection) {
        connection->Link->ClosePort();
        ForgetLatestLink(connection->Link.get());
    }
}

std::shared_ptr<TfrmComm> LatestLink() {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    return frmComm;
}

void SetLatestLink(std::shared_ptr<TfrmComm> link) {
    std::shared_ptr<TfrmComm> previous;  // let go of outside the lock
    std::lock_guard<std::recursive_mutex> guard(Lock());
    previous = std::exchange(frmComm, std::move(link));
}

void ForgetLatestLink(const TfrmComm* link) {
    std::shared_ptr<TfrmComm> previous;
    std::lock_guard<std::recursive_mutex> guard(Lock());
    if (frmComm.get() == link) previous = std::move(frmComm);
}

void ReleaseAllLinks() {
    std::vector<std::shared_ptr<TConnection>> live;
    std::shared_ptr<TfrmComm> latest;
    {
        std::lock_guard<std::recursive_mutex> guard(Lock());
        live = LiveConnections();
        Table().clear();
        latest = std::move(frmComm);
    }
    for (const auto& connection : live) connection->Link->ClosePort();
}

void AbandonLinksAtExit() {
    std::lock_guard<std::recursive_mutex> guard(Lock());
    new std::shared_ptr<TfrmComm>(std::move(frmComm));
    for (auto& connection : LiveConnections()) new std::shared_ptr<TConnection>(std::move(connection));
}

}  // namespace quor
