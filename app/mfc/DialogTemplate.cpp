// A dialog's window built from its template in dialog units: the frame, the font and the units
// it makes, each control in its group, what a screen reader hears of it, and the system menu.

#include "Dialog.h"
#include "DialogLayout.h"
#include "DialogWindow.h"
#include "EditAccessible.h"
#include "FocusTip.h"
#include "GroupBoxWidget.h"
#include "IconImage.h"
#include "Resources.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

namespace {

// This layer's own, beyond the original framework: what a screen reader hears of each control,
// from the template's layout (DialogLayout.h). A label names the field after it, which it also
// labels in the reader's tree; a button that serves a field is described by the field's name, so
// that four "Browse" buttons tell what each browses for.
void NameControlsForReaders(const DialogTemplate& dialog, const std::vector<ControlLinks>& links,
                            const std::vector<QWidget*>& widgets)
{
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (links[i].label < 0)
            continue;
        if (auto* label = qobject_cast<QLabel*>(widgets[links[i].label]))
            label->setBuddy(widgets[i]);
        widgets[i]->setAccessibleName(
            QString::fromStdString(FieldName(dialog, links, static_cast<int>(i))));
    }
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (links[i].field >= 0)
            widgets[i]->setAccessibleDescription(widgets[links[i].field]->accessibleName());
    }
}

} // namespace

RECT CDialog::MapDialogRect(const RECT& units) const
{
    const auto mapX = [this](int x) { return (x * m_baseUnitX + 2) / 4; };
    const auto mapY = [this](int y) { return (y * m_baseUnitY + 4) / 8; };
    return RECT { mapX(units.left), mapY(units.top), mapX(units.right), mapY(units.bottom) };
}

BOOL CDialog::CreateWindowFromTemplate(CWnd* owner)
{
    const DialogTemplate* const dialog = FindDialogTemplate(m_templateId);
    if (!dialog || !qApp)
        return FALSE;
    DestroyWindow();
    CreateFrame(*dialog, owner);
    UseTemplateFont(*dialog);
    const RECT size = MapDialogRect({ 0, 0, dialog->cx, dialog->cy });
    m_hWnd->setFixedSize(size.right, size.bottom);

    // Each control goes into the group box whose frame holds it, so that a screen reader finds
    // it in its group; the group boxes come first, beneath everything (templates list them
    // last, so that they lie beneath the controls they frame).
    const std::vector<ControlLinks> links = LinkControls(*dialog);
    std::vector<QWidget*> widgets(dialog->controls.size(), nullptr);
    for (std::size_t i = 0; i < dialog->controls.size(); ++i) {
        if (dialog->controls[i].kind == ControlKind::GroupBox)
            widgets[i] = CreateControl(dialog->controls[i], m_hWnd);
    }
    QWidget* previousTabStop = nullptr;
    for (std::size_t i = 0; i < dialog->controls.size(); ++i) {
        const ControlTemplate& control = dialog->controls[i];
        if (control.kind == ControlKind::GroupBox)
            continue;
        QWidget* const widget
            = CreateControl(control, links[i].group >= 0 ? widgets[links[i].group] : m_hWnd);
        widgets[i] = widget;
        if (control.style & WS_TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (control.kind == ControlKind::PushButton) {
            widget->setFocusPolicy(Qt::NoFocus);
        }
    }
    NameControlsForReaders(*dialog, links, widgets);
    if (dialog->style & WS_SYSMENU)
        CreateSystemMenu(*dialog);
    return TRUE;
}

// The window itself, with the frame, caption and buttons the template's styles ask for.
void CDialog::CreateFrame(const DialogTemplate& dialog, CWnd* owner)
{
    QWidget* const ownerWidget = owner ? owner->GetSafeHwnd() : nullptr;
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (dialog.style & WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (dialog.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialog.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    auto* const window = new DialogWindow(this, ownerWidget, flags);
    m_hWnd = window;
    window->setWindowTitle(QString::fromStdString(dialog.caption));
}

// The template's font, and the dialog units it makes: a quarter of the average character width
// across, an eighth of the character height down.
void CDialog::UseTemplateFont(const DialogTemplate& dialog)
{
    // Where the template's font is missing, a sans serif of close metrics stands in for it.
    const QString fontName = QString::fromStdString(dialog.fontName);
    if (QFont::substitutes(fontName).isEmpty()) {
        QFont::insertSubstitutions(fontName,
                                   { QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                     QStringLiteral("Arial"), QStringLiteral("DejaVu Sans") });
    }
    QFont font(fontName);
    font.setPointSize(dialog.fontPoints);
    font.setStyleHint(QFont::SansSerif);
    m_hWnd->setFont(font);
    const QFontMetrics metrics(m_hWnd->font());
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseUnitX = (width / 26 + 1) / 2;
    m_baseUnitY = metrics.height();
}

// One control of the template in `parent` (the window, or the group box that holds it), where
// the template places it in the window, wired to the dialog's messages.
QWidget* CDialog::CreateControl(const ControlTemplate& control, QWidget* parent)
{
    QWidget* const window = m_hWnd;
    const QString text = QString::fromStdString(control.text);
    const UINT id = static_cast<UINT>(control.id);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, parent);
        button->setDefault(control.style & BS_DEFPUSHBUTTON);
        QObject::connect(button, &QPushButton::clicked, window,
                         [this, id] { WindowProc(WM_COMMAND, MakeCommand(id, BN_CLICKED), 0); });
        widget = button;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(parent);
        MakeEditControl(edit);
        edit->setReadOnly(control.style & ES_READONLY);
        // An edit control takes no drops of its own: dropped files go to the dialog.
        edit->setAcceptDrops(false);
        edit->setFrame(control.style & WS_BORDER);
        if (edit->isReadOnly()) {
            // Read-only fields look read-only, with the dialog's grey behind the text.
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Window));
            edit->setPalette(palette);
        }
        QObject::connect(edit, &QLineEdit::textChanged, window, [this, id] {
            if (!m_inDataExchange)
                WindowProc(WM_COMMAND, MakeCommand(id, EN_UPDATE), 0);
        });
        widget = edit;
        break;
    }
    case ControlKind::Static: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // The area wraps only when it has room for more than one line.
        label->setWordWrap(control.cy >= 16);
        label->setText(text);
        widget = label;
        break;
    }
    case ControlKind::GroupBox:
        widget = new GroupBoxWidget(text, parent);
        break;
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setPixmap(IconImage(FindIcon(control.iconId), 32));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    }
    widget->setObjectName(QString::number(control.id));
    ShowTooltipWithFocus(widget);
    const RECT place
        = MapDialogRect({ control.x, control.y, control.x + control.cx, control.y + control.cy });
    int widthPixels = place.right - place.left;
    // A one-line label laid out for the template's font may need a few more pixels in the
    // stand-in font: it gets them rather than losing its last letters.
    if (control.kind == ControlKind::Static && control.cy < 16)
        widthPixels = std::max(widthPixels, widget->sizeHint().width());
    const QPoint origin = parent == window ? QPoint() : parent->mapTo(window, QPoint());
    widget->setGeometry(place.left - origin.x(), place.top - origin.y(), widthPixels,
                        place.bottom - place.top);
    return widget;
}

// The system menu: Restore, Minimize, Close, and what the program appends; it opens on Alt+Space
// (and from a right click on the background, Shift+F10 or the Menu key, see DialogWindow).
void CDialog::CreateSystemMenu(const DialogTemplate& dialog)
{
    auto* const window = static_cast<DialogWindow*>(m_hWnd);
    auto* menu = new QMenu(window);
    const auto addItem = [menu](const char* text, UINT command) {
        menu->addAction(QString::fromUtf8(text))->setData(command);
    };
    addItem("&Restore", SC_RESTORE);
    if (dialog.style & WS_MINIMIZEBOX)
        addItem("Mi&nimize", SC_MINIMIZE);
    menu->addSeparator();
    addItem("&Close\tAlt+F4", SC_CLOSE);
    m_systemMenu = std::make_unique<CMenu>(menu);
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), window);
    QObject::connect(shortcut, &QShortcut::activated, window,
                     [window] { window->PopUpSystemMenu(window->mapToGlobal(QPoint(0, 0))); });
}

// Initialises the dialog; when OnInitDialog asks for it (by returning TRUE), the first tab stop
// takes the focus, as the platform does.
void CDialog::InitDialogAndFocus()
{
    if (!OnInitDialog())
        return;
    // The focus chain starts with the group boxes, which take no focus of their own.
    for (QWidget* widget = m_hWnd->nextInFocusChain(); widget && widget != m_hWnd;
         widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled()
            && widget->isVisibleTo(m_hWnd)) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}
