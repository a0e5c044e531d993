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
int g_exitCode = 0;

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
    if (!flag) {
        if (m_strFileName.IsEmpty())
            m_strFileName = param;
        return;
    }
    if (m_request != Run)
        return;
    // `param` is the option without its first '-'.
    if (std::strcmp(param, "-help") == 0 || std::strcmp(param, "h") == 0) {
        m_request = ShowHelp;
    } else if (std::strcmp(param, "-version") == 0 || std::strcmp(param, "V") == 0) {
        m_request = ShowVersion;
    } else {
        m_request = UnknownOption;
        m_strOption = std::string("-") + param;
    }
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

int CWinApp::ExitInstance()
{
    return g_exitCode;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

void AfxPostQuitMessage(int exitCode)
{
    g_exitCode = exitCode;
}

void AfxEnableControlContainer() { }

int AfxWinMain(int argc, char** argv)
{
    HoldStandardDescriptors();
    afxArgc = argc;
    afxArgv = argv;
    CWinApp* const app = AfxGetApp();
    if (!app)
        return 1;
    if (!app->InitCommandLine())
        return app->ExitInstance();
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
    // The arguments are the program's own: Qt gets only the program's name, or its options
    // (-style, -reverse...) would take words that name files, even after "--". QApplication
    // keeps referring to its count and list for as long as it lives.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = { argc > 0 ? argv[0] : nullptr, nullptr };
    QApplication application(qtArgc, qtArgv);
    AfxRegisterResources();
    if (!app->InitApplication() || !app->InitInstance())
        return app->ExitInstance();
    return QApplication::exec();
}
