// The warning shown at start-up on a platform older than the scan is made for. The
// text is part of its picture; Continue ends it with IDYES (6), Cancel with IDNO (7),
// Escape and the window's close command with IDCANCEL (2).
#pragma once

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"

class CNotSupportedPlatformDlg : public CBitmapDlg {
    Q_OBJECT

public:
    CNotSupportedPlatformDlg();
    ~CNotSupportedPlatformDlg() override;

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    void SetupControls() override;
    void OnCommand(UINT nId) override;

    CBitmapButtonEx m_btnContinue;
    CBitmapButtonEx m_btnCancel;
};
