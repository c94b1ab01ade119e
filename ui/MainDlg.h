// Placeholder of the main window, so that the program builds and runs while the real
// one is being made: the skinned window of template 102 that publishes itself for the
// single-instance guard and is handed the scan to run.
#pragma once

#include "BitmapDlg.h"
#include "EnumMgr.h"

#include <memory>

class CMainDlg : public CBitmapDlg {
    Q_OBJECT

public:
    explicit CMainDlg(QWidget* pParent = nullptr);
    ~CMainDlg() override;

    // What Start scans; start-up sets it before the window opens.
    void SetScanSetup(std::shared_ptr<const ScanSetup> pSetup) { m_pScanSetup = std::move(pSetup); }

protected:
    bool OnInitDialog() override;
    void SetupControls() override {}

private:
    std::shared_ptr<const ScanSetup> m_pScanSetup;
};
