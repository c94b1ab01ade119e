#include "UDisksGrants.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>
#include <QVariantMap>

#include <fcntl.h>

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.UDisks2.Manager";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";

std::string Why(const QDBusError& error) {
    return (error.name() + ": " + error.message()).toStdString();
}

} // namespace

CUDisksGrants::CUDisksGrants(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

void CUDisksGrants::Ask(const std::string& strDevice, std::shared_ptr<CDeviceAnswer> pAnswer) {
    QMetaObject::invokeMethod(
        this, [this, strDevice, pAnswer = std::move(pAnswer)] { Enqueue(strDevice, pAnswer); },
        Qt::QueuedConnection);
}

void CUDisksGrants::Enqueue(const std::string& strDevice, std::shared_ptr<CDeviceAnswer> pAnswer) {
    if (!m_strRefused.empty()) {
        pAnswer->Refuse("not asked again after " + m_strRefused);
        return;
    }
    if (m_setUnknown.count(strDevice)) {
        pAnswer->Refuse("the disk service does not know " + strDevice);
        return;
    }
    // A stopped scan's question may still be open: its answer serves the next scan.
    if (strDevice == m_strAsking) {
        m_arrWaiting.push_back(std::move(pAnswer));
        return;
    }
    m_queue.emplace_back(strDevice, std::move(pAnswer));
    AskNext();
}

void CUDisksGrants::AskNext() {
    if (!m_strAsking.empty() || m_queue.empty())
        return;
    m_strAsking = m_queue.front().first;
    m_arrWaiting.clear();
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->first == m_strAsking) {
            m_arrWaiting.push_back(std::move(it->second));
            it = m_queue.erase(it);
        } else {
            ++it;
        }
    }
    if (!m_strRefused.empty() || m_setUnknown.count(m_strAsking)) {
        Refuse(m_strRefused.empty() ? "the disk service does not know " + m_strAsking
                                    : "not asked again after " + m_strRefused);
        return;
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, "ResolveDevice");
    call << QVariantMap{{"path", QString::fromStdString(m_strAsking)}} << QVariantMap{};
    Call(call, &CUDisksGrants::OnResolved);
}

// The watcher is this object's child until its answer is handled.
void CUDisksGrants::Call(const QDBusMessage& message, Handler pHandler) {
    auto* pWatcher = new QDBusPendingCallWatcher(
        QDBusConnection::systemBus().asyncCall(message, static_cast<int>(m_timeout.count())), this);
    connect(pWatcher, &QDBusPendingCallWatcher::finished, this,
            [this, pHandler](QDBusPendingCallWatcher* p) {
                p->deleteLater();
                (this->*pHandler)(*p);
            });
}

void CUDisksGrants::OnResolved(QDBusPendingCallWatcher& call) {
    QDBusPendingReply<QList<QDBusObjectPath>> reply = call;
    if (reply.isError()) {
        // No disk service, or one that cannot be asked: the next device would fare alike.
        m_strRefused = Why(reply.error());
        Refuse(m_strRefused);
        return;
    }
    const QList<QDBusObjectPath> arrObjects = reply.value();
    if (arrObjects.isEmpty()) {
        m_setUnknown.insert(m_strAsking);
        Refuse("the disk service does not know " + m_strAsking);
        return;
    }
    QDBusMessage open = QDBusMessage::createMethodCall(kService, arrObjects.front().path(),
                                                       kBlockInterface, "OpenDevice");
    open << QString("r") << QVariantMap{};
    Call(open, &CUDisksGrants::OnOpened);
}

void CUDisksGrants::OnOpened(QDBusPendingCallWatcher& call) {
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = call;
    if (reply.isError()) {
        // Refused, dismissed, not allowed, an older service without the call, no answer
        // in time: whoever refused once is not asked again.
        m_strRefused = Why(reply.error());
        Refuse(m_strRefused);
        return;
    }
    const QDBusUnixFileDescriptor descriptor = reply.value();
    for (const std::shared_ptr<CDeviceAnswer>& pAnswer : m_arrWaiting) {
        const int fd =
            descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
        if (fd < 0)
            pAnswer->Refuse("the disk service handed over no descriptor");
        else
            pAnswer->Grant(CFileHandle(fd));
    }
    Done();
}

void CUDisksGrants::Refuse(const std::string& strWhy) {
    for (const std::shared_ptr<CDeviceAnswer>& pAnswer : m_arrWaiting)
        pAnswer->Refuse(strWhy);
    Done();
}

void CUDisksGrants::Done() {
    m_arrWaiting.clear();
    m_strAsking.clear();
    AskNext();
}
