#pragma once

// The application: shows the main dialog modally, and ends when it ends.

#include "mfc/WinApp.h"

class CCompressorApp : public CWinApp
{
public:
    CCompressorApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
