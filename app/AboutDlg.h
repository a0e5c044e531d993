#pragma once

// The About box: the icon, the product and a credit line, and "OK".

#include "mfc/Dialog.h"

class CAboutDlg : public CDialog
{
public:
    CAboutDlg();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
