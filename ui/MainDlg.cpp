#include "MainDlg.h"

#include "SingleInstance.h"
#include "StringTable.h"

CMainDlg::CMainDlg(QWidget* pParent) : CBitmapDlg(IDD_MAIN, IDB_MAIN_BACKGROUND, pParent) {}

CMainDlg::~CMainDlg() = default;

bool CMainDlg::OnInitDialog() {
    CBitmapDlg::OnInitDialog();
    PublishMainWindow(static_cast<std::uint32_t>(winId()));
    setWindowTitle(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    return true;
}
