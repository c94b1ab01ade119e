// A volume table that answers as another one does: tests derive from it and change the
// one answer they are about.
#pragma once

#include "platform/VolumeTable.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CForwardingVolumes : public IVolumeTable {
public:
    explicit CForwardingVolumes(std::shared_ptr<const IVolumeTable> pInner)
        : m_pInner(std::move(pInner)) {}
    std::vector<std::string> GetLogicalDrives() const override {
        return m_pInner->GetLogicalDrives();
    }
    UINT GetDriveType(const std::string& strRoot) const override {
        return m_pInner->GetDriveType(strRoot);
    }
    bool GetVolumeInformation(const std::string& strRoot, std::string& strFileSystem,
                              DWORD& dwError) const override {
        return m_pInner->GetVolumeInformation(strRoot, strFileSystem, dwError);
    }
    std::vector<std::string> GetMountPoints() const override { return m_pInner->GetMountPoints(); }
    bool CanReadVolume(const std::string& strRoot) const override {
        return m_pInner->CanReadVolume(strRoot);
    }

private:
    std::shared_ptr<const IVolumeTable> m_pInner;
};
