#include "DetailsDlg.h"

CDetailsDlg::CDetailsDlg(CFileList* pList, QWidget* pParent)
    : CBitmapDlg(IDD_DETAILS, 0, pParent), m_pList(pList) {}
