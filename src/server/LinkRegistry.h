// The device links of the process, one per opened device.
//
// Natively each device has its own link: objects that connect to the same device share it,
// objects on different devices have independent connections and logs. The automation server
// keeps one connection per process, as Windows hosts have always had it: a connect replaces
// the process's link, and an object whose device is not the new link's reads as not
// connected (it never sends to a device it did not connect to).
//
// A link is keyed by the device name its port opened ("\\.\COM7", "/dev/ttyACM0"); a link
// whose search found no port has the empty key. Everything runs on the library's thread.
#pragma once

#include <memory>
#include <string>

namespace quor {

class TfrmComm;

enum class TLinkPolicy { OneLinkPerDevice, OneLinkPerProcess };

// One link per process with the automation server, one per device natively. Tests switch.
TLinkPolicy LinkPolicy();
void SetLinkPolicy(TLinkPolicy policy);

// The link open on that device, or null.
std::shared_ptr<TfrmComm> LinkOnDevice(const std::string& device);
// The link of the latest connect that is still held (frmComm), or null.
std::shared_ptr<TfrmComm> LatestLink();
// Records a link just opened on `device` and makes it the latest. It replaces a link on the
// same device; with one link per process, it replaces every other link.
void AddLink(const std::string& device, std::shared_ptr<TfrmComm> link);
// Lets go of the link on that device: it is destroyed now, or when its running operation
// returns. Nothing happens when no link is open there.
void ReleaseLink(const std::string& device);
void ReleaseAllLinks();
// At process exit: the links are neither closed nor destroyed (see DllMain).
void AbandonLinksAtExit();

}  // namespace quor
