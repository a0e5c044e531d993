#pragma once

// The application: CWinApp, whose InitInstance the program overrides, and CCommandLineInfo, what
// the program was started with.

#include "CmdTarget.h"

class CWnd;

// What the program was started with: the first argument that is not an option names a file to
// open; options (starting with '-') and further arguments are not for this program. After "--",
// no argument is an option (this layer's own, beyond the original framework), so that a file
// whose name starts with '-' can be named.
class CCommandLineInfo
{
public:
    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const char* param, BOOL flag, BOOL last);

    CString m_strFileName;
};

// The application object: one per program, built during static initialisation. The framework's
// entry point (AfxWinMain) gives /dev/null to any of descriptors 0, 1 and 2 that is closed,
// creates the Qt application, registers the resources and calls InitApplication, then
// InitInstance; when either returns FALSE the program ends with ExitInstance's code.
class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(LPCTSTR appName = nullptr);
    ~CWinApp() override;

    // Once per program, before InitInstance: hands the application id to the platform.
    virtual BOOL InitApplication();
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // Three-dimensional control styling: Qt's style already draws every control so.
    BOOL Enable3dControls() { return TRUE; }
    // Hands every argument of the program (those Qt took for itself removed) to `info`, as the
    // bytes it was given; a word starting with '-', other than "-" itself, is an option, up to a
    // word "--".
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

// Registers the program's resources; the program defines it, as a resource script would be
// linked into it.
void AfxRegisterResources();

// The framework's entry point.
int AfxWinMain(int argc, char** argv);

// The arguments the program was started with, as their bytes, without those that Qt took for
// itself: AfxWinMain keeps them here, as the C runtime keeps __argc and __argv on the original
// platform (this layer's own names, since names with two underscores belong to the compiler).
inline int afxArgc = 0;
inline char** afxArgv = nullptr;
