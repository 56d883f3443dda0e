// The connections of the process: which objects share a port, and when it closes.
//
// A connection (a link with its port open) is held by the objects connected through it: an
// object that connects to a device that already has one shares it, and its port closes when
// the last object holding it lets go (disconnects, or is released). The link and its log
// outlive the port for the objects that used it, so that the log can still be shown and
// saved. Natively each device has its own connection, so objects on different devices work
// independently (from different threads too). The automation server keeps one connection
// per process, as Windows hosts have always had it: a connect to another device closes the
// process's connection, and the objects that held it read as not connected (they never send
// to a device they did not connect to).
//
// Connections are keyed by the device itself (link/PortNames.h, DeviceKey), so that two names
// of one device share one connection. Any thread may use the registry.
#pragma once

#include <memory>
#include <string>

namespace quor {

class TfrmComm;

enum class TLinkPolicy { OneLinkPerDevice, OneLinkPerProcess };

// One link per process with the automation server, one per device natively. Tests switch.
TLinkPolicy LinkPolicy();
void SetLinkPolicy(TLinkPolicy policy);

// One connection; its port closes when the last object lets go of it.
class TConnection {
public:
    TConnection(std::string key, std::shared_ptr<TfrmComm> link);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;
    const std::string Key;                  // the device (DeviceKey)
    const std::shared_ptr<TfrmComm> Link;  // its port open while the connection lives
};

// The connection open on that device, or null.
std::shared_ptr<TConnection> ConnectionOnDevice(const std::string& key);
// The connection of the latest connect, while it is held and open, or null.
std::shared_ptr<TConnection> LatestConnection();
// Records a connection just opened and makes it the latest. With one link per process, the
// ports of every other connection are closed.
void AddConnection(const std::shared_ptr<TConnection>& connection);
// Closes the port of the connection on that device, whoever holds it (its device has gone,
// and a connect opens it afresh).
void CloseConnection(const std::string& key);

// The link of the latest connect (frmComm): set when a connect starts, kept while its
// connection is held, and after a connect that found no port until the next connect.
std::shared_ptr<TfrmComm> LatestLink();
void SetLatestLink(std::shared_ptr<TfrmComm> link);
// Forgets the latest link when it is `link` (its connect failed or its port closed).
void ForgetLatestLink(const TfrmComm* link);

// Tests: closes every connection and forgets the latest link.
void ReleaseAllLinks();
// At process exit: the links are neither closed nor destroyed (see DllMain).
void AbandonLinksAtExit();

}  // namespace quor
