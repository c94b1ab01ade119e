// Read-only descriptors of block devices from the system's disk service (udisks, on the
// system bus), which asks the user through the desktop's authentication dialog. Every
// call is asynchronous: the interface thread goes on while the dialog is up, and the
// drive worker that asked waits for the answer, or for a stop.
#pragma once

#include "VolumeGrant.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>

#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CUDisksGrants final : public QObject, public IDeviceGrants {
public:
    // Long enough for a person to type a password.
    static constexpr std::chrono::milliseconds kCallTimeout = std::chrono::minutes(5);

    explicit CUDisksGrants(std::chrono::milliseconds timeout = kCallTimeout);

    // Any thread. Devices are asked for one after another: one dialog at a time, and
    // after a refusal (or a service that cannot answer) nothing is asked again while
    // this object lives; a device the service does not know is not asked for again.
    void Ask(const std::string& strDevice, std::shared_ptr<CDeviceAnswer> pAnswer) override;

private:
    // The interface thread's, as everything below.
    void Enqueue(const std::string& strDevice, std::shared_ptr<CDeviceAnswer> pAnswer);
    void AskNext();
    using Handler = void (CUDisksGrants::*)(QDBusPendingCallWatcher&);
    void Call(const QDBusMessage& message, Handler pHandler);
    void OnResolved(QDBusPendingCallWatcher& call);
    void OnOpened(QDBusPendingCallWatcher& call);
    void Refuse(const std::string& strWhy);
    void Done();

    const std::chrono::milliseconds m_timeout;
    std::deque<std::pair<std::string, std::shared_ptr<CDeviceAnswer>>> m_queue;
    std::string m_strAsking; // the device asked for now; empty: none
    std::vector<std::shared_ptr<CDeviceAnswer>> m_arrWaiting; // for m_strAsking
    std::string m_strRefused;           // why nothing is asked any more; empty: asks go on
    std::set<std::string> m_setUnknown; // devices the service does not know
};
