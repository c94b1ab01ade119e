// The closing window of a complete scan: how many files were found and how much space
// they take, and the banner inviting the user to start backing up. A banner click
// opens the offer page and ends the dialog with IDOK; Close, Escape and the window's
// close command end it with IDCANCEL.
#pragma once

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"
#include "StaticBanner.h"
#include "StaticEx.h"

#include <string>

class CFinishDlg : public CBitmapDlg {
    Q_OBJECT

public:
    // The texts as the window shows them (UTF-8), e.g. "1234 files" and "5.67 GB".
    CFinishDlg(std::string strCount, std::string strSize, QWidget* pParent = nullptr);
    ~CFinishDlg() override;

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    void SetupControls() override;
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    LRESULT OnBannerClicked(WPARAM wParam, LPARAM lParam);

    std::string m_strCount;
    std::string m_strSize;
    CStaticEx m_stcCount;
    CStaticEx m_stcSize;
    CStaticBanner m_banner;
    CBitmapButtonEx m_btnClose;
};
