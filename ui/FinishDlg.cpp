#include "FinishDlg.h"

#include "Foreground.h"
#include "Messages.h"
#include "StringTable.h"

#include <utility>

CFinishDlg::CFinishDlg(std::string strCount, std::string strSize, QWidget* pParent)
    : CBitmapDlg(IDD_FINISH, IDB_FINISH_BACKGROUND, pParent), m_strCount(std::move(strCount)),
      m_strSize(std::move(strSize)) {}

CFinishDlg::~CFinishDlg() = default;

void CFinishDlg::DoDataExchange() {
    DDX_Control(IDC_TOTAL_COUNT, m_stcCount);
    DDX_Control(IDC_TOTAL_SIZE, m_stcSize);
    DDX_Control(IDC_BANNER, m_banner);
    DDX_Control(IDCANCEL, m_btnClose);
}

bool CFinishDlg::OnInitDialog() {
    CBitmapDlg::OnInitDialog();
    setWindowTitle(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    // The scan may have ended while the user worked elsewhere.
    SetForegroundWindow(*this);
    return true;
}

void CFinishDlg::SetupControls() {
    m_stcCount.setText(QString::fromStdString(m_strCount));
    m_stcSize.setText(QString::fromStdString(m_strSize));
    m_stcCount.SetTextStyle("MS Shell Dlg");
    m_stcSize.SetTextStyle("MS Shell Dlg");
    m_stcCount.move(130, 83);
    m_stcSize.move(130, 102);
    m_stcCount.setAccessibleName(
        QString::fromStdString(LoadString(IDS_PICTURE_FINISH_COUNT_CAPTION)));
    m_stcSize.setAccessibleName(
        QString::fromStdString(LoadString(IDS_PICTURE_FINISH_SIZE_CAPTION)));
    AddPictureText(QRect(54, 48, 337, 22),
                   QString::fromStdString(LoadString(IDS_PICTURE_FINISH_HEADING)));
    AddPictureText(QRect(24, 136, 367, 20),
                   QString::fromStdString(LoadString(IDS_PICTURE_FINISH_QUESTION)));
    AddPictureText(QRect(24, 159, 367, 18),
                   QString::fromStdString(LoadString(IDS_PICTURE_FINISH_BODY)));

    m_banner.SetBitmaps(IDB_FINISH_BANNER, IDB_FINISH_BANNER_HOVER, IDB_FINISH_BANNER_PRESSED);
    m_banner.move(49, 200);
    m_banner.m_strToolTip = LoadString(IDS_BANNER_TOOLTIP);
    m_banner.m_strUrl = LoadString(IDS_OFFER_URL);
    m_banner.setAccessibleDescription(QString::fromStdString(
        FormatString(IDS_A11Y_BANNER, {LoadString(IDS_PICTURE_FINISH_BANNER_TITLE),
                                       LoadString(IDS_PICTURE_FINISH_BANNER_TEXT)})));

    const QSize client = GetClientArea()->size();
    m_btnClose.LoadBitmaps(IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER, IDB_CLOSE_DISABLED);
    m_btnClose.SizeToContent();
    m_btnClose.move(client.width() - m_btnClose.width() - 15,
                    client.height() - m_btnClose.height() - 12);
}

LRESULT CFinishDlg::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_BANNERCLICKED)
        return OnBannerClicked(wParam, lParam);
    return CBitmapDlg::OnMessage(nMsg, wParam, lParam);
}

LRESULT CFinishDlg::OnBannerClicked(WPARAM, LPARAM) {
    EndDialog(IDOK);
    return 0;
}
