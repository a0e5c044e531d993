// The application: its one object, its start-up and the command line it was given.

#include "WinApp.h"

#include "Resources.h"

#include <QApplication>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>

namespace {

CWinApp* g_app = nullptr;

// This layer's own, beyond the original framework. A program started with standard input, output
// or error closed hands that number to the first file it opens (Qt's connection to the display,
// a job's file), which then receives what is written to standard output or error, or is read as
// standard input. /dev/null holds each closed one before anything is opened: open takes the
// lowest free number, and every number below the one looked at is open by then.
void HoldStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", O_RDWR);
        if (held < 0)
            return; // nothing to hold them with: the program starts all the same
        assert(held == fd);
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCTSTR appName) : m_pszAppName(appName)
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

void CCommandLineInfo::ParseParam(const char* param, BOOL flag, BOOL)
{
    if (!flag && m_strFileName.IsEmpty())
        m_strFileName = param;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info)
{
    // The arguments as they came, not QCoreApplication::arguments(): Qt decodes a name that is
    // not UTF-8 with U+FFFD, which names another file.
    bool options = true;
    for (int i = 1; i < afxArgc; ++i) {
        const char* const param = afxArgv[i];
        if (options && std::strcmp(param, "--") == 0) {
            options = false;
            continue;
        }
        const bool flag = options && param[0] == '-' && param[1] != '\0';
        info.ParseParam(flag ? param + 1 : param, flag, i + 1 == afxArgc);
    }
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return FindIcon(id);
}

BOOL CWinApp::InitApplication()
{
    if (m_pszAppID && *m_pszAppID)
        QGuiApplication::setDesktopFileName(QString::fromUtf8(m_pszAppID));
    return TRUE;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

void AfxEnableControlContainer() { }

int AfxWinMain(int argc, char** argv)
{
    HoldStandardDescriptors();
    const char* const platform = std::getenv("QT_QPA_PLATFORM");
    const char* const display = std::getenv("DISPLAY");
    const char* const wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(platform && *platform) && !(display && *display) && !(wayland && *wayland)) {
        const std::string name = argc > 0 ? std::filesystem::path(argv[0]).filename().string()
                                          : std::string("this program");
        std::fprintf(stderr,
                     "%s: no display to open its window on; without one, run it as "
                     "xvfb-run %s\n",
                     name.c_str(), name.c_str());
        return 1;
    }
    QApplication application(argc, argv);
    // Qt has taken its own options out of both.
    afxArgc = argc;
    afxArgv = argv;
    AfxRegisterResources();
    CWinApp* const app = AfxGetApp();
    if (!app)
        return 1;
    if (!app->InitApplication() || !app->InitInstance())
        return app->ExitInstance();
    return QApplication::exec();
}
