#pragma once

// The framework's basic types, constants and helpers, as the dialog code expects them. Only
// what this program uses is here.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPCTSTR = const char*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// End codes and command identifiers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr UINT ID_HELP = 0xE146;

// Messages.
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_DROPFILES = 0x0233;

// Notification codes carried by WM_COMMAND.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT EN_UPDATE = 0x0400;

inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;

// System commands.
inline constexpr UINT SC_SIZE = 0xF000;
inline constexpr UINT SC_MOVE = 0xF010;
inline constexpr UINT SC_MINIMIZE = 0xF020;
inline constexpr UINT SC_MAXIMIZE = 0xF030;
inline constexpr UINT SC_CLOSE = 0xF060;
inline constexpr UINT SC_KEYMENU = 0xF100;
inline constexpr UINT SC_RESTORE = 0xF120;

// Menu item flags.
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// System metrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
int GetSystemMetrics(int index);

// Window and control styles used by the dialog templates.
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD DS_MODALFRAME = 0x80;
inline constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
inline constexpr DWORD BS_PUSHBUTTON = 0x0;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
inline constexpr DWORD BS_GROUPBOX = 0x7;
inline constexpr DWORD ES_AUTOHSCROLL = 0x80;
inline constexpr DWORD ES_READONLY = 0x800;
inline constexpr DWORD SS_LEFT = 0x0;
inline constexpr DWORD SS_ICON = 0x3;
inline constexpr DWORD SS_NOPREFIX = 0x80;

struct RECT
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct POINT
{
    int x = 0;
    int y = 0;
};

class CRect : public RECT
{
public:
    [[nodiscard]] int Width() const { return right - left; }
    [[nodiscard]] int Height() const { return bottom - top; }
};

// A loaded icon: both images of one icon resource.
struct IconResource;
using HICON = const IconResource*;
using HCURSOR = HICON;

// The framework's string: a narrow string that can load itself from the string table.
class CString : public std::string
{
public:
    using std::string::string;
    CString() = default;
    CString(const std::string& text) : std::string(text) { }
    CString& operator=(const std::string& text)
    {
        std::string::operator=(text);
        return *this;
    }
    CString& operator=(const char* text)
    {
        std::string::operator=(text);
        return *this;
    }
    // False (and the string emptied) when the table has no such string.
    BOOL LoadString(UINT id);
    [[nodiscard]] BOOL IsEmpty() const { return empty(); }
    operator const char*() const { return c_str(); }
};

// Byte-exact comparison of two strings; 0 when they are identical. Multi-byte characters are
// compared as their bytes, which for identical text is the same thing.
inline int _mbscmp(const char* first, const char* second)
{
    return std::strcmp(first, second);
}

// Files dropped on a window: their paths, and where the drop happened in the window's client
// area. The window that accepts dropped files (CWnd::DragAcceptFiles) receives WM_DROPFILES with
// one in wParam and hands it back with DragFinish.
struct DropFiles
{
    std::vector<std::string> files;
    POINT point;
};
using HDROP = DropFiles*;
// With `index` 0xFFFFFFFF, the number of files; otherwise copies the index-th path, cut to fit
// `size` bytes with its terminating 0, into `path`, and returns its length (without the 0); with
// `path` null, only the length.
UINT DragQueryFile(HDROP drop, UINT index, char* path, UINT size);
// Where the files were dropped, in the client area of the window that took them.
BOOL DragQueryPoint(HDROP drop, POINT* point);
void DragFinish(HDROP drop);

// One-time process set-up for hosted controls and three-dimensional control styling. Qt's
// widgets need neither: hosted controls do not exist here and every control is drawn by the
// style. Kept as the calls the program makes.
void AfxEnableControlContainer();

class CWinApp;
CWinApp* AfxGetApp();
