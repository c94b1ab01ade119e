#include "NotSupportedPlatformDlg.h"

#include "StringTable.h"

CNotSupportedPlatformDlg::CNotSupportedPlatformDlg()
    : CBitmapDlg(IDD_NOT_SUPPORTED, IDB_PLATFORM_BACKGROUND, nullptr) {}

CNotSupportedPlatformDlg::~CNotSupportedPlatformDlg() = default;

void CNotSupportedPlatformDlg::DoDataExchange() {
    DDX_Control(IDYES, m_btnContinue);
    DDX_Control(IDNO, m_btnCancel);
}

bool CNotSupportedPlatformDlg::OnInitDialog() {
    CBitmapDlg::OnInitDialog();
    setWindowTitle(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    return true; // Continue, the first tab stop, takes the focus
}

void CNotSupportedPlatformDlg::SetupControls() {
    const QSize client = GetClientArea()->size();
    AddPictureText(QRect(60, 56, 280, 24),
                   QString::fromStdString(LoadString(IDS_PICTURE_PLATFORM_HEADING)));
    AddPictureText(QRect(20, 89, client.width() - 40, 50),
                   QString::fromStdString(LoadString(IDS_PICTURE_PLATFORM_TEXT)));
    m_btnContinue.LoadBitmaps(IDB_CONTINUE, IDB_CONTINUE_PRESSED, IDB_CONTINUE_HOVER,
                              IDB_CONTINUE_DISABLED);
    m_btnContinue.SizeToContent();
    m_btnCancel.LoadBitmaps(IDB_CANCEL, IDB_CANCEL_PRESSED, IDB_CANCEL_HOVER, IDB_CANCEL_DISABLED);
    m_btnCancel.SizeToContent();

    // Both on Cancel's line, Continue 10 pixels to its left.
    const QSize cancel = m_btnCancel.size();
    const int y = client.height() - cancel.height() - 12;
    m_btnCancel.move(client.width() - cancel.width() - 15, y);
    m_btnContinue.move(client.width() - cancel.width() - m_btnContinue.width() - 25, y);
}

void CNotSupportedPlatformDlg::OnCommand(UINT nId) {
    if (nId == IDYES || nId == IDNO)
        EndDialog(static_cast<int>(nId));
    else
        CBitmapDlg::OnCommand(nId);
}
