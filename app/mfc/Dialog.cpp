// Dialogs on Qt: modal and modeless runs, data exchange, work run on a worker thread while input
// waits, and what a screen reader is told of the controls.

#include "Dialog.h"

#include "DialogWindow.h"
#include "StatusLineAccessible.h"
#include "WinApp.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <thread>

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

void CDialog::SetStatusLine(int id, LPCTSTR name)
{
    if (auto* const edit = qobject_cast<QLineEdit*>(GetDlgItem(id)))
        MakeStatusLine(edit, QString::fromUtf8(name ? name : ""));
}

void CDialog::SetDlgItemDescription(int id, LPCTSTR text)
{
    QWidget* const control = GetDlgItem(id);
    if (!control)
        return;
    // Text that is not UTF-8 (a file's name from an older system) reads as a field shows it,
    // with U+FFFD.
    const QString description = QString::fromStdString(text ? text : "");
    control->setToolTip(description);
    control->setAccessibleDescription(description);
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
