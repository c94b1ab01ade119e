#include "DetailsDlg.h"

#include "Gdi.h"
#include "StringTable.h"

CDetailsDlg::CDetailsDlg(CFileList* pList, QWidget* pParent)
    : CBitmapDlg(IDD_DETAILS, 0, pParent), m_pList(pList) {}

CDetailsDlg::~CDetailsDlg() = default;

void CDetailsDlg::DoDataExchange() {
    DDX_Control(IDCANCEL, m_btnClose);
    DDX_Control(IDC_FILE_LIST, m_listDetails);
}

bool CDetailsDlg::OnInitDialog() {
    CBitmapDlg::OnInitDialog();
    setWindowTitle(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    m_listDetails.FillList(m_pList);
    SetBackgroundColor(RGB(210, 232, 253));
    // The window manager's frame resizes the window already: no frame style to add.
    m_rcInitial = geometry();
    setMinimumSize(m_rcInitial.size());
    return true;
}

void CDetailsDlg::SetupControls() {
    const QSize client = GetClientArea()->size();
    m_listDetails.setGeometry(5, 5, client.width() - 10, client.height() - 50);
    m_btnClose.LoadBitmaps(IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER, IDB_CLOSE_DISABLED);
    m_btnClose.SizeToContent();
    m_btnClose.move(client.width() - m_btnClose.width() - 5,
                    client.height() - m_btnClose.height() - 10);
}

void CDetailsDlg::resizeEvent(QResizeEvent* pEvent) {
    CBitmapDlg::resizeEvent(pEvent);
    if (m_bInitialized)
        SetupControls();
}
