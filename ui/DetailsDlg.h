// The details window: the files of one group in a sortable list, in a resizable window
// with the window manager's title bar. The main window runs it modally with the group's
// record list from its store.
#pragma once

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"
#include "FileProperty.h"
#include "ListDetails.h"

#include <QRect>

class CDetailsDlg : public CBitmapDlg {
    Q_OBJECT

public:
    // pList may be null (an empty list). It is read once, while the window is created
    // (Create, or the first showing): a caller holding its store's lock may call Create
    // before DoModal. The records must outlive the window.
    CDetailsDlg(CFileList* pList, QWidget* pParent = nullptr);
    ~CDetailsDlg() override;

    CListDetails& GetFileList() { return m_listDetails; }
    CBitmapButtonEx& GetCloseButton() { return m_btnClose; }

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    // The list 5 pixels from the left, top and right and 45 above the bottom; Close 5
    // from the right and 10 from the bottom. Again after every resize.
    void SetupControls() override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    CBitmapButtonEx m_btnClose;
    CListDetails m_listDetails;
    CFileList* m_pList; // the store's; not owned
    QRect m_rcInitial;  // the window as it opened: it never becomes smaller
};
