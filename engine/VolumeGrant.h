// Volumes this process cannot open itself, read through a descriptor handed over by
// someone who may open them: on the desktop, the system's disk service once the user
// has agreed as an administrator. Only an administrator can agree, so a drive read this
// way counts as read by a process that may read every folder.
#pragma once

#include "SafeFile.h"
#include "ThreadSafety.h"
#include "platform/Event.h"
#include "platform/VolumeSource.h"

#include <memory>
#include <string>

// The answer to one question, shared by the drive worker that waits for it and the asker
// that gives it, each on its own thread. The first answer counts; a descriptor that
// comes after the worker stopped waiting is closed with the answer.
class CDeviceAnswer {
public:
    void Grant(CFileHandle fd) EXCLUDES(m_cs);
    void Refuse(std::string strWhy) EXCLUDES(m_cs);

    // Set once answered.
    const CEvent& Answered() const { return m_answered; }
    // After the answer: the descriptor (closed: refused) and why it was refused.
    CFileHandle TakeDescriptor() EXCLUDES(m_cs);
    std::string Why() const EXCLUDES(m_cs);

private:
    void Answer(CFileHandle fd, std::string strWhy) EXCLUDES(m_cs);
    mutable CMutex m_cs;
    CFileHandle m_fd GUARDED_BY(m_cs);
    std::string m_strWhy GUARDED_BY(m_cs);
    bool m_bAnswered GUARDED_BY(m_cs) = false;
    CEvent m_answered{false};
};

// Whoever may be asked for a read-only descriptor of a block device.
class IDeviceGrants {
public:
    virtual ~IDeviceGrants() = default;
    // Starts asking for the device (its node in /dev) and returns at once; the answer
    // follows on any thread. Called on the drive workers, several at once.
    virtual void Ask(const std::string& strDevice, std::shared_ptr<CDeviceAnswer> pAnswer) = 0;
};

// The bytes of the volume at strRoot through a descriptor of its device that grants
// hands over, waiting for the answer until a stop. 0 with the opener; ECANCELED when
// stopped first; otherwise the errno value, with strWhy saying why in words. A
// descriptor that is not of the drive's device, or of no volume whose table is read,
// is refused here.
DWORD AskForVolume(IDeviceGrants& grants, const std::string& strRoot,
                   std::shared_ptr<const IVolumeOpener>& pOpener, std::string& strWhy);
