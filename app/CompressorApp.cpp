// The application object: start-up shows the main dialog modally, and the program ends with it.

#include "CompressorApp.h"

#include "CompressorDlg.h"

#include <csignal>

BEGIN_MESSAGE_MAP(CCompressorApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CCompressorApp::CCompressorApp()
{
    SetAppID(HUFPACK_APP_ID);
}

// The one application object. The engine's node heap is constant-initialised, so it exists
// before this object and outlives it.
CCompressorApp theApp;

BOOL CCompressorApp::InitInstance()
{
    // Every job that opened its files ends by printing "Done." on standard output. When no one
    // reads that any more (a closed pipe), the line is lost and nothing else: the program goes
    // on. A job leaves an ignored SIGPIPE ignored.
    std::signal(SIGPIPE, SIG_IGN);
    AfxEnableControlContainer();
    Enable3dControls();

    CCompressorDlg dlg;
    // A file named on the command line, as a file manager's "Open with" names it.
    CCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    if (!commandLine.m_strFileName.IsEmpty())
        dlg.OpenAtStart(commandLine.m_strFileName);
    m_pMainWnd = &dlg;
    dlg.DoModal(); // the end code changes nothing
    m_pMainWnd = nullptr;
    // No message loop: the program ends with the dialog.
    return FALSE;
}
