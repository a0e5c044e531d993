// The application object: start-up answers the command line's options, or shows the main dialog
// modally, and the program ends with it.

#include "CompressorApp.h"

#include "CompressorDlg.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage = "Usage: hufpack-gui [OPTION]... [--] [FILE]\n";
constexpr const char* kHelp
    = "Compresses a file with static Huffman coding over byte values, or restores it, in a\n"
      "dialog window. A FILE whose name ends in .huf is the source of the window's Decompress\n"
      "group; any other FILE is the source of its Compress group. The destination is typed or\n"
      "chosen in the window.\n"
      "\n"
      "  -h, --help     show this help and exit\n"
      "  -V, --version  show the version and exit\n"
      "  --             end of the options: a FILE after it may start with '-'\n"
      "\n"
      "The window needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run it as\n"
      "xvfb-run hufpack-gui. Exit status: 0 when the window was closed, or after --help and\n"
      "--version; 1 with no display or when the help cannot be written; 2 for a wrong option.\n";
constexpr int kExitUsage = 2;

// Text on standard output must have arrived: a full disk or a closed pipe is a failure.
int FinishOutput()
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    if (errno == 0)
        std::fputs("hufpack-gui: write error\n", stderr);
    else
        std::fprintf(stderr, "hufpack-gui: write error: %s\n", std::strerror(errno));
    return 1;
}

} // namespace

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

// Before any window: what the options ask for needs no display.
BOOL CCompressorApp::InitCommandLine()
{
    CCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    switch (commandLine.m_request) {
    case CCommandLineInfo::Run:
        return TRUE;
    case CCommandLineInfo::ShowHelp:
        std::printf("%s%s", kUsage, kHelp);
        AfxPostQuitMessage(FinishOutput());
        return FALSE;
    case CCommandLineInfo::ShowVersion:
        std::printf("hufpack-gui %s\n", HUFPACK_VERSION);
        AfxPostQuitMessage(FinishOutput());
        return FALSE;
    case CCommandLineInfo::UnknownOption:
        std::fprintf(stderr,
                     "hufpack-gui: unknown option '%s'\n%sTry 'hufpack-gui --help' for more "
                     "information.\n",
                     commandLine.m_strOption.c_str(), kUsage);
        AfxPostQuitMessage(kExitUsage);
        return FALSE;
    }
    return TRUE;
}

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
