// The files of one group in a list. A stand-in until the details window lands: an empty
// window on its template, opened the way the main window opens the real one.
#pragma once

#include "BitmapDlg.h"
#include "FileProperty.h"

class CDetailsDlg : public CBitmapDlg {
public:
    // pList belongs to the results store; it is read while Create builds the rows.
    CDetailsDlg(CFileList* pList, QWidget* pParent);

protected:
    void SetupControls() override {}

private:
    CFileList* m_pList;
};
