// Windows: message dispatch through the message maps and the platform's default processing, the
// system menu, painting contexts, and the files a drop hands over.

#include "Wnd.h"

#include "IconImage.h"

#include <QMenu>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <vector>

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() = default;
CWnd::~CWnd() = default;

namespace {

// The control of this window named `name`: among its children first, then inside them (a group
// box holds controls), but never in another window, such as a dialog that this one owns.
QWidget* FindControl(const QWidget* parent, const QString& name)
{
    const auto controls = [parent] {
        std::vector<QWidget*> found;
        for (QObject* child : parent->children()) {
            auto* const widget = qobject_cast<QWidget*>(child);
            if (widget && !widget->isWindow())
                found.push_back(widget);
        }
        return found;
    }();
    for (QWidget* control : controls) {
        if (control->objectName() == name)
            return control;
    }
    for (QWidget* control : controls) {
        if (QWidget* inside = FindControl(control, name))
            return inside;
    }
    return nullptr;
}

} // namespace

QWidget* CWnd::GetDlgItem(int id) const
{
    return m_hWnd ? FindControl(m_hWnd, QString::number(id)) : nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    const CurrentMessage outer = m_current;
    m_current = { message, wParam, lParam };
    const UINT id = static_cast<UINT>(wParam & 0xFFFF);
    const UINT code = static_cast<UINT>(wParam >> 16);
    LRESULT result = 0;
    if (const AFX_MSGMAP_ENTRY* entry = FindHandler(message, code, id))
        result = entry->handler(this, wParam, lParam);
    else
        result = DefWindowProc(message, wParam, lParam);
    m_current = outer;
    return result;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? m_bigIcon : m_smallIcon;
        const HICON previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
        if (m_hWnd)
            m_hWnd->setWindowIcon(ToQIcon(m_bigIcon, m_smallIcon));
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_SYSCOMMAND:
        if (!m_hWnd)
            return 0;
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            m_hWnd->showMinimized();
            break;
        case SC_RESTORE:
            m_hWnd->showNormal();
            break;
        case SC_CLOSE:
            WindowProc(WM_CLOSE, 0, 0);
            break;
        default:
            break; // moving and sizing belong to the window manager
        }
        return 0;
    default:
        return 0;
    }
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

void CWnd::DragAcceptFiles(BOOL accept)
{
    if (m_hWnd)
        m_hWnd->setAcceptDrops(accept);
}

BOOL CWnd::IsIconic() const
{
    return m_hWnd && m_hWnd->isMinimized() ? TRUE : FALSE;
}

void CWnd::GetClientRect(RECT* rect) const
{
    *rect = RECT { 0, 0, m_hWnd ? m_hWnd->width() : 0, m_hWnd ? m_hWnd->height() : 0 };
}

CMenu* CWnd::GetSystemMenu(BOOL)
{
    return m_systemMenu.get();
}

BOOL CMenu::AppendMenu(UINT flags, UINT id, LPCTSTR text)
{
    if (!m_menu)
        return FALSE;
    if (flags & MF_SEPARATOR) {
        m_menu->addSeparator();
        return TRUE;
    }
    QAction* action = m_menu->addAction(QString::fromUtf8(text ? text : ""));
    action->setData(id);
    return TRUE;
}

int GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

CPaintDC::CPaintDC(CWnd* window)
{
    if (window->m_hWnd && window->m_paintEvent)
        m_painter = std::make_unique<QPainter>(window->m_hWnd);
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon)
{
    if (!m_painter || !icon)
        return FALSE;
    m_painter->drawPixmap(x, y, IconImage(icon, GetSystemMetrics(SM_CXICON)));
    return TRUE;
}

UINT DragQueryFile(HDROP drop, UINT index, char* path, UINT size)
{
    if (!drop)
        return 0;
    if (index == 0xFFFFFFFF)
        return static_cast<UINT>(drop->files.size());
    if (index >= drop->files.size())
        return 0;
    const std::string& file = drop->files[index];
    if (!path)
        return static_cast<UINT>(file.size());
    if (size == 0)
        return 0;
    const std::size_t length = std::min<std::size_t>(file.size(), size - 1);
    std::memcpy(path, file.data(), length);
    path[length] = '\0';
    return static_cast<UINT>(length);
}

BOOL DragQueryPoint(HDROP drop, POINT* point)
{
    if (!drop || !point)
        return FALSE;
    *point = drop->point;
    return TRUE;
}

void DragFinish(HDROP) { }
