#pragma once

// The application: answers --help and --version, or shows the main dialog modally and ends when
// it ends.

#include "mfc/WinApp.h"

class CCompressorApp : public CWinApp
{
public:
    CCompressorApp();
    BOOL InitCommandLine() override;
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
