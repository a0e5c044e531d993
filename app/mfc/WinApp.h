#pragma once

// The application: CWinApp, whose InitInstance the program overrides, and CCommandLineInfo, what
// the program was started with.

#include "CmdTarget.h"

class CWnd;

// What the program was started with: the first argument that is not an option names a file to
// open; further arguments are not for this program. This layer's own, beyond the original
// framework: after "--", no argument is an option, so that a file whose name starts with '-' can
// be named; and of the options, "--help" (or "-h") and "--version" (or "-V") ask start-up to
// answer them, and any other is refused. The first option decides.
class CCommandLineInfo
{
public:
    enum StartupRequest { Run, ShowHelp, ShowVersion, UnknownOption };

    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const char* param, BOOL flag, BOOL last);

    CString m_strFileName;
    StartupRequest m_request = Run;
    // For UnknownOption: the option as it was given ("--frobnicate").
    CString m_strOption;
};

// The application object: one per program, built during static initialisation. The framework's
// entry point (AfxWinMain) gives /dev/null to any of descriptors 0, 1 and 2 that is closed,
// calls InitCommandLine, then creates the Qt application, registers the resources and calls
// InitApplication, then InitInstance; when any of them returns FALSE the program ends with
// ExitInstance's code.
class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(LPCTSTR appName = nullptr);
    ~CWinApp() override;

    // This layer's own, beyond the original framework: runs first, before there is a display,
    // so that what the command line's options ask for (help, the version, a complaint about a
    // wrong option) needs none. FALSE ends the program at once.
    virtual BOOL InitCommandLine() { return TRUE; }
    // Once per program, before InitInstance: hands the application id to the platform.
    virtual BOOL InitApplication();
    virtual BOOL InitInstance() { return TRUE; }
    // The program's exit status: what AfxPostQuitMessage asked for, 0 if nothing did.
    virtual int ExitInstance();

    // Three-dimensional control styling: Qt's style already draws every control so.
    BOOL Enable3dControls() { return TRUE; }
    // Hands every argument of the program to `info`, as the bytes it was given; a word starting
    // with '-', other than "-" itself, is an option, up to a word "--". Qt takes none of them
    // (its settings come from its environment variables).
    void ParseCommandLine(CCommandLineInfo& info);
    // Icon resource `id` at the standard icon size; null when there is none.
    [[nodiscard]] HICON LoadIcon(UINT id) const;
    // The application's identity to the desktop: the name of its desktop entry without
    // ".desktop", which is also its icon's name. Wayland compositors find the window's icon
    // and menu entry through it.
    void SetAppID(LPCTSTR appId) { m_pszAppID = appId; }

    CWnd* m_pMainWnd = nullptr;
    LPCTSTR m_pszAppName = nullptr;
    LPCTSTR m_pszAppID = nullptr;

protected:
    // The framework's Help command: this program ships no help file, so it shows nothing.
    void OnHelp() { }
    DECLARE_MESSAGE_MAP()
};

// Ends the program with `exitCode` once the current step of its start-up returns, as the
// message that ends a message loop on the original platform does.
void AfxPostQuitMessage(int exitCode);

// Registers the program's resources; the program defines it, as a resource script would be
// linked into it.
void AfxRegisterResources();

// The framework's entry point.
int AfxWinMain(int argc, char** argv);

// The arguments the program was started with, as their bytes: AfxWinMain keeps them here, as the
// C runtime keeps __argc and __argv on the original platform (this layer's own names, since names
// with two underscores belong to the compiler).
inline int afxArgc = 0;
inline char** afxArgv = nullptr;
