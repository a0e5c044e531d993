// Dialogs on Qt: the window built from a template in dialog units, data exchange, modal and
// modeless runs, and work run on a worker thread while input waits.

#include "Dialog.h"

#include "IconImage.h"
#include "Resources.h"
#include "WinApp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <map>
#include <thread>

namespace {

constexpr WPARAM MakeCommand(UINT id, UINT code)
{
    return static_cast<WPARAM>((code << 16) | (id & 0xFFFF));
}

// The paths of a drop, as the file system's bytes, when every item in it is a file of this
// machine (a file URL with no host, or "localhost"); empty otherwise. The list is read as it
// came: QUrl::toLocalFile decodes a name that is not UTF-8 with U+FFFD, which names another file.
std::vector<std::string> LocalFiles(const QMimeData* data)
{
    const QString uriList = QStringLiteral("text/uri-list");
    if (!data || !data->hasFormat(uriList))
        return {};
    std::vector<std::string> files;
    for (const QByteArray& line : data->data(uriList).split('\n')) {
        const QByteArray uri = line.trimmed();
        if (uri.isEmpty() || uri.startsWith('#')) // the list's comment lines
            continue;
        const QUrl url = QUrl::fromEncoded(uri);
        if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == u"localhost"))
            return {};
        files.push_back(
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    }
    return files;
}

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

} // namespace

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
    // A right click on the dialog itself, not on a control, opens the system menu.
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (childAt(event->pos()) == nullptr || qobject_cast<QGroupBox*>(childAt(event->pos())))
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

// ---- CDialog ----

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) { }

CDialog::~CDialog()
{
    DestroyWindow();
}

void CDialog::DestroyWindow()
{
    m_systemMenu.reset();
    delete m_hWnd;
    m_hWnd = nullptr;
}

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

    QWidget* previousTabStop = nullptr;
    std::vector<QWidget*> groupBoxes;
    for (const ControlTemplate& control : dialog->controls) {
        QWidget* const widget = CreateControl(control);
        if (control.kind == ControlKind::GroupBox)
            groupBoxes.push_back(widget);
        if (control.style & WS_TABSTOP) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop)
                QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (control.kind == ControlKind::PushButton) {
            widget->setFocusPolicy(Qt::NoFocus);
        }
    }
    // Group boxes come last in the template, so that they lie beneath the controls they frame.
    for (QWidget* box : groupBoxes)
        box->lower();
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

// One control of the template, in its place, wired to the dialog's messages.
QWidget* CDialog::CreateControl(const ControlTemplate& control)
{
    QWidget* const window = m_hWnd;
    const QString text = QString::fromStdString(control.text);
    const UINT id = static_cast<UINT>(control.id);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, window);
        button->setDefault(control.style & BS_DEFPUSHBUTTON);
        QObject::connect(button, &QPushButton::clicked, window,
                         [this, id] { WindowProc(WM_COMMAND, MakeCommand(id, BN_CLICKED), 0); });
        widget = button;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(window);
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
        auto* label = new QLabel(window);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // The area wraps only when it has room for more than one line.
        label->setWordWrap(control.cy >= 16);
        label->setText(text);
        widget = label;
        break;
    }
    case ControlKind::GroupBox:
        widget = new QGroupBox(text, window);
        break;
    case ControlKind::Icon: {
        auto* label = new QLabel(window);
        label->setPixmap(IconImage(FindIcon(control.iconId), 32));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    }
    widget->setObjectName(QString::number(control.id));
    const RECT place
        = MapDialogRect({ control.x, control.y, control.x + control.cx, control.y + control.cy });
    int widthPixels = place.right - place.left;
    // A one-line label laid out for the template's font may need a few more pixels in the
    // stand-in font: it gets them rather than losing its last letters.
    if (control.kind == ControlKind::Static && control.cy < 16)
        widthPixels = std::max(widthPixels, widget->sizeHint().width());
    widget->setGeometry(place.left, place.top, widthPixels, place.bottom - place.top);
    return widget;
}

// The system menu: Restore, Minimize, Close, and what the program appends; it opens on Alt+Space
// (and from a right click on the background, see DialogWindow).
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
    if (QWidget* first = m_hWnd->nextInFocusChain(); first && first != m_hWnd)
        first->setFocus(Qt::TabFocusReason);
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    m_templateId = templateId;
    m_parent = parent;
    if (!CreateWindowFromTemplate(parent ? parent : nullptr))
        return FALSE;
    InitDialogAndFocus();
    m_hWnd->show();
    return TRUE;
}

int CDialog::DoModal()
{
    CWnd* owner = m_parent;
    if (!owner && AfxGetApp() && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd;
    if (!CreateWindowFromTemplate(owner))
        return -1;
    auto* const window = static_cast<DialogWindow*>(m_hWnd);
    window->setModal(true);
    // The platform centres a dialog whose template is at 0, 0: on its owner, or on the screen.
    if (!owner) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            window->move(screen->availableGeometry().center() - window->rect().center());
    }
    InitDialogAndFocus();
    const int result = window->exec();
    DestroyWindow();
    return result;
}

void CDialog::RunInBackground(const std::function<void()>& work, const std::function<void()>& tick)
{
    const InputBlocker blocker(m_hWnd);
    m_busy = true;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(100);
    QObject::connect(&ticks, &QTimer::timeout, [&tick] { tick(); });
    ticks.start();
    std::thread worker;
    try {
        worker = std::thread([&work, &loop] {
            work();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        work(); // no thread to be had: the work runs here, as it always did
    }
    if (worker.joinable()) {
        // Painting, timers and the window manager's messages go on; keys and clicks wait.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        worker.join();
    }
    ticks.stop();
    m_busy = false;
    if (std::exchange(m_closeHeld, false))
        WindowProc(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CDialog::ShowProgressBehindText(int id, double fraction)
{
    auto* const edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    if (!edit)
        return;
    // The control's own background, kept the first time and put back when the bar goes.
    static constexpr const char* kBackground = "hufpackBackground";
    if (!edit->property(kBackground).isValid())
        edit->setProperty(kBackground, edit->palette().brush(QPalette::Base));
    const QBrush background = edit->property(kBackground).value<QBrush>();
    QPalette palette = edit->palette();
    if (fraction < 0) {
        palette.setBrush(QPalette::Base, background);
    } else {
        // The highlight colour, faded towards the background so the text stays readable.
        const QColor base = background.color();
        const QColor highlight = edit->palette().color(QPalette::Highlight);
        const QColor fill((base.red() + highlight.red()) / 2,
                          (base.green() + highlight.green()) / 2,
                          (base.blue() + highlight.blue()) / 2);
        const double end = std::clamp(fraction, 0.0, 1.0);
        QLinearGradient bar(0, 0, edit->width(), 0);
        bar.setColorAt(0, fill);
        bar.setColorAt(end, fill);
        bar.setColorAt(std::min(end + 1e-6, 1.0), base);
        bar.setColorAt(1, end >= 1.0 ? fill : base);
        palette.setBrush(QPalette::Base, bar);
    }
    edit->setPalette(palette);
}

void CDialog::EndDialog(int result)
{
    if (auto* window = static_cast<QDialog*>(m_hWnd))
        window->done(result);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) { }

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    const bool outer = m_inDataExchange;
    m_inDataExchange = true;
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    m_inDataExchange = outer;
    return TRUE;
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if (auto* window = static_cast<DialogWindow*>(m_hWnd); window && m_paintEvent)
            window->BasePaint(m_paintEvent);
        return 0;
    case WM_CLOSE:
        // A dialog closes as Cancel does.
        return WindowProc(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED), 0);
    case WM_ICONERASEBKGND:
        if (auto* painter = reinterpret_cast<QPainter*>(wParam); painter && m_hWnd)
            painter->fillRect(m_hWnd->rect(), m_hWnd->palette().color(QPalette::Window));
        return 1;
    default:
        return CWnd::DefWindowProc(message, wParam, lParam);
    }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    auto* const edit = qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(id));
    if (!edit)
        return;
    if (pDX->m_bSaveAndValidate) {
        // A field's bytes that are not UTF-8 show as U+FFFD, and taking the text back would
        // change them: the field keeps them while its control shows what a push of it shows.
        if (edit->text() != QString::fromStdString(value))
            value = edit->text().toStdString();
    } else {
        const QString text = QString::fromStdString(value);
        if (edit->text() != text)
            edit->setText(text);
    }
}
