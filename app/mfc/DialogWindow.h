#pragma once

// This layer's own, beyond the original framework: the Qt window behind a CDialog, which turns
// Qt's events into the dialog's messages, and what holds input back while the dialog is busy.
// Only the layer's dialog code includes it.

#include "Dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QObject>
#include <string>
#include <vector>

constexpr WPARAM MakeCommand(UINT id, UINT code)
{
    return static_cast<WPARAM>((code << 16) | (id & 0xFFFF));
}

// The paths of a drop, as the file system's bytes, when every item in it is a file of this
// machine; empty otherwise.
std::vector<std::string> LocalFiles(const QMimeData* data);

// While a dialog is busy, drops every input event meant for it, its controls or its shortcuts.
// Input from the window system already waits in the queue meanwhile; this catches what is sent
// to a widget directly.
class InputBlocker : public QObject
{
public:
    explicit InputBlocker(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            for (QObject* object = watched; object; object = object->parent()) {
                if (object == m_window)
                    return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    QWidget* m_window;
};

// The Qt side of a CDialog: forwards painting, closing, Escape and the system menu to the
// dialog's messages.
class DialogWindow : public QDialog
{
public:
    DialogWindow(CDialog* dialog, QWidget* owner, Qt::WindowFlags flags)
        : QDialog(owner, flags), m_dialog(dialog)
    {
    }

    void BasePaint(QPaintEvent* event) { QDialog::paintEvent(event); }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        m_dialog->m_paintEvent = event;
        m_dialog->WindowProc(WM_PAINT, 0, 0);
        m_dialog->m_paintEvent = nullptr;
    }
    // The window manager's close (the close box, Alt+F4) is the system menu's Close; while the
    // dialog is busy it waits until the dialog is done.
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        if (m_dialog->m_busy) {
            m_dialog->m_closeHeld = true;
            return;
        }
        m_dialog->WindowProc(WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    // Files dragged over the window: taken only when they are all local files.
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (!LocalFiles(event->mimeData()).empty())
            event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (!LocalFiles(event->mimeData()).empty())
            event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override
    {
        DropFiles drop { LocalFiles(event->mimeData()), {} };
        if (drop.files.empty())
            return;
        const QPoint where = event->position().toPoint();
        drop.point = { where.x(), where.y() };
        event->acceptProposedAction();
        m_dialog->WindowProc(WM_DROPFILES, reinterpret_cast<WPARAM>(&drop), 0);
    }
    // Escape.
    void reject() override { m_dialog->WindowProc(WM_COMMAND, MakeCommand(IDCANCEL, 0), 0); }
    // Shift+F10 and the Menu key open the context menu of the control that has the focus, as on
    // the original platform; a control without one leaves it to the dialog, whose context menu
    // is the system menu. This makes the About box reachable from the keyboard where the window
    // manager takes Alt+Space.
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool menuKey = event->key() == Qt::Key_Menu;
        const bool shiftF10
            = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
        if (!menuKey && !shiftF10) {
            QDialog::keyPressEvent(event);
            return;
        }
        QWidget* const target = focusWidget() ? focusWidget() : this;
        const QPoint where = target->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        // It goes up through the control's parents until one takes it.
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, where, target->mapToGlobal(where),
                               event->modifiers());
        QApplication::sendEvent(target, &menu);
    }
    // A right click on the dialog itself, not on a control, opens the system menu; so does a
    // context menu key that no control took.
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QWidget* const under = childAt(event->pos());
        if (event->reason() == QContextMenuEvent::Keyboard || under == nullptr
            || qobject_cast<QGroupBox*>(under))
            PopUpSystemMenu(event->globalPos());
    }

public:
    void PopUpSystemMenu(const QPoint& where)
    {
        CMenu* const menu = m_dialog->GetSystemMenu(FALSE);
        if (!menu)
            return;
        for (QAction* action : menu->GetSafeHmenu()->actions()) {
            if (action->data().toUInt() == SC_RESTORE)
                action->setEnabled(isMinimized() || isMaximized());
        }
        if (QAction* chosen = menu->GetSafeHmenu()->exec(where); chosen && !chosen->isSeparator())
            m_dialog->WindowProc(WM_SYSCOMMAND, chosen->data().toUInt(), 0);
    }

private:
    CDialog* m_dialog;
};
