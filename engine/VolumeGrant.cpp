#include "VolumeGrant.h"

#include "ScanControl.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Hands out the granted descriptor for the one volume it was granted for: each reader
// gets a duplicate of its own, so readers close theirs as they please.
class CGrantedVolumeOpener final : public IVolumeOpener {
public:
    CGrantedVolumeOpener(CFileHandle fd, std::string strCanonicalRoot)
        : m_fd(std::move(fd)), m_strCanonicalRoot(std::move(strCanonicalRoot)) {}

    DWORD Open(const std::string& strMountPoint,
               std::unique_ptr<IBlockReader>& pReader) const override {
        std::string strCanonical;
        if (!CanonicalPath(strMountPoint, strCanonical))
            return static_cast<DWORD>(errno);
        if (strCanonical != m_strCanonicalRoot)
            return EACCES; // granted for another volume
        const int fd = ::fcntl(m_fd.Get(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return static_cast<DWORD>(errno);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        pReader = std::make_unique<CFileBlockReader>(fd);
        return 0;
    }

private:
    const CFileHandle m_fd;
    const std::string m_strCanonicalRoot;
};

} // namespace

void CDeviceAnswer::Grant(CFileHandle fd) {
    Answer(std::move(fd), {});
}

void CDeviceAnswer::Refuse(std::string strWhy) {
    Answer({}, std::move(strWhy));
}

// The first answer counts: a later one (a stop's refusal after a grant) changes nothing.
void CDeviceAnswer::Answer(CFileHandle fd, std::string strWhy) {
    {
        CLock lock(m_cs);
        if (m_bAnswered)
            return;
        m_fd = std::move(fd);
        m_strWhy = std::move(strWhy);
        m_bAnswered = true;
    }
    m_answered.Set();
}

CFileHandle CDeviceAnswer::TakeDescriptor() {
    CLock lock(m_cs);
    return std::move(m_fd);
}

std::string CDeviceAnswer::Why() const {
    CLock lock(m_cs);
    return m_strWhy;
}

DWORD AskForVolume(IDeviceGrants& grants, const std::string& strRoot,
                   std::shared_ptr<const IVolumeOpener>& pOpener, std::string& strWhy) {
    std::string strCanonical, strSource;
    if (!CanonicalPath(strRoot, strCanonical) ||
        LocateVolumeSourceIn(strCanonical, ReadMountEntries(kSystemMountInfo), strSource) != 0) {
        strWhy = "it is no whole volume of a device";
        return EINVAL;
    }
    struct stat stDevice;
    if (::stat(strSource.c_str(), &stDevice) != 0 || !S_ISBLK(stDevice.st_mode)) {
        strWhy = "it is no whole volume of a device";
        return EINVAL;
    }

    auto pAnswer = std::make_shared<CDeviceAnswer>();
    grants.Ask(strSource, pAnswer);
    if (WaitForAnyEvent({&ForceEvent, &pAnswer->Answered()}, INFINITE) == WAIT_OBJECT_0) {
        strWhy = "the scan was stopped";
        return ECANCELED;
    }
    CFileHandle fd = pAnswer->TakeDescriptor();
    if (!fd.IsOpen()) {
        strWhy = pAnswer->Why();
        return EACCES;
    }
    // Whatever the service is, the table read must be that of this drive.
    struct stat stGranted;
    if (::fstat(fd.Get(), &stGranted) != 0 || !S_ISBLK(stGranted.st_mode) ||
        stGranted.st_rdev != stDevice.st_rdev) {
        strWhy = "the descriptor handed over is not of " + strSource;
        return EACCES;
    }
    auto pGranted = std::make_shared<const CGrantedVolumeOpener>(std::move(fd), strCanonical);
    if (!CanOpenVolumeForRawRead(strRoot, *pGranted)) {
        strWhy = "the device holds no volume whose table is read";
        return EACCES;
    }
    pOpener = std::move(pGranted);
    return 0;
}
