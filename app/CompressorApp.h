#pragma once

#include "mfc/WinApp.h"

// The application: shows the main dialog modally, and ends when it ends.
class CCompressorApp : public CWinApp
{
public:
    CCompressorApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
