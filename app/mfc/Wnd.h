#pragma once

// Windows: CWnd, which receives the framework's messages, the system menu (CMenu) and painting
// contexts (CPaintDC).

#include "CmdTarget.h"

#include <memory>

class QDialog;
class QMenu;
class QPainter;
class QPaintEvent;
class QWidget;

// A window: a Qt widget that receives the framework's messages. Messages go through the class's
// message map; what the map does not handle gets the default processing of the platform.
class CWnd : public CCmdTarget
{
public:
    CWnd();
    ~CWnd() override;

    // The widget, or null while there is no window.
    [[nodiscard]] QWidget* GetSafeHwnd() const { return m_hWnd; }
    // The control with this identifier, in a group box too, or null.
    [[nodiscard]] QWidget* GetDlgItem(int id) const;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sets the large (bigIcon) or small icon of the window, as WM_SETICON does.
    HICON SetIcon(HICON icon, BOOL bigIcon);
    [[nodiscard]] BOOL IsIconic() const;
    // Whether files dropped on the window reach it as WM_DROPFILES. Only local files are taken,
    // and nothing while the window is busy.
    void DragAcceptFiles(BOOL accept = TRUE);
    void GetClientRect(RECT* rect) const;
    // The window's system menu (null when the window has none). Appended items reach
    // WM_SYSCOMMAND with their identifiers.
    class CMenu* GetSystemMenu(BOOL revert);

    // Entry point for every message to this window.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Default processing of the message being handled.
    LRESULT Default();
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

    QWidget* m_hWnd = nullptr;
    std::unique_ptr<class CMenu> m_systemMenu;
    // What Default() refers to: the message being handled, and the paint event behind WM_PAINT.
    struct CurrentMessage
    {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    } m_current;
    QPaintEvent* m_paintEvent = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;

    friend class CPaintDC;
    friend class DialogWindow;
};

// A menu handle over a Qt menu that the window owns.
class CMenu
{
public:
    explicit CMenu(QMenu* menu) : m_menu(menu) { }
    BOOL AppendMenu(UINT flags, UINT id = 0, LPCTSTR text = nullptr);
    [[nodiscard]] QMenu* GetSafeHmenu() const { return m_menu; }

private:
    QMenu* m_menu;
};

// A painting context for the duration of one WM_PAINT.
class CPaintDC
{
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    // Draws the icon's standard-size image with its top-left corner at (x, y).
    BOOL DrawIcon(int x, int y, HICON icon);
    [[nodiscard]] WPARAM GetSafeHdc() const { return reinterpret_cast<WPARAM>(m_painter.get()); }

private:
    std::unique_ptr<QPainter> m_painter;
};
