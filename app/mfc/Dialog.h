#pragma once

// Dialogs: CDialog (made from a template, run modally or not, with data exchange between fields
// and controls) and the DDX_Text binding of a field to an edit control.

#include "Wnd.h"

#include <functional>
#include <string>
#include <vector>

class CDialog;

// One data exchange: the direction and the dialog whose controls take part.
class CDataExchange
{
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
    {
    }
    BOOL m_bSaveAndValidate; // TRUE: controls to fields (pull); FALSE: fields to controls
    CDialog* m_pDlgWnd;
};

// Binds the edit control `id` to a string field. A pull copies the control's whole text into
// the field, unless the control shows exactly what a push of the field would: then the field
// keeps its bytes (a file's name that is not UTF-8 shows with U+FFFD, but must stay that file's
// name). A push replaces the control's text with the field's, and leaves the control alone when
// they are already equal (so the caret and selection of a field being typed in stay).
void DDX_Text(CDataExchange* pDX, int id, CString& value);

// A dialog box built from a template in dialog units: modal through DoModal, or modeless
// through Create. Controls tell the dialog of clicks (BN_CLICKED) and text changes (EN_UPDATE)
// through WM_COMMAND; while UpdateData runs, those notifications are dropped.
class CDialog : public CWnd
{
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the window, runs a modal loop (the owner disabled) until the dialog ends, destroys
    // the window, and returns the end code; -1 when the window cannot be created.
    virtual int DoModal();
    // Creates the window and shows it without a modal loop.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);
    // TRUE: pull every bound control into its field; FALSE: push every field into its control.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Converts a rectangle in dialog units to pixels for this dialog's font, as the platform
    // does: horizontal units are a quarter of the average character width, vertical ones an
    // eighth of the character height.
    [[nodiscard]] RECT MapDialogRect(const RECT& units) const;

    // This layer's own, beyond the original framework: work on a worker thread while the dialog
    // stays alive, a progress bar behind an edit control's text, and what a screen reader hears.
    //
    // Runs `work` on a thread of its own and returns when it has returned. Meanwhile the dialog
    // stays alive: it is painted and answers the window manager, and `tick` runs on this thread
    // a few times a second; but no input reaches it (keys and clicks wait, or are dropped when
    // they come straight to a control), and a close request from the window manager is held and
    // carried out once the work is done.
    void RunInBackground(const std::function<void()>& work, const std::function<void()>& tick);
    [[nodiscard]] bool IsBusy() const { return m_busy; }
    // Fills the edit control `id` from the left, behind its text, to `fraction` (0 to 1) of its
    // width, as a progress bar does; a negative fraction takes the bar away.
    void ShowProgressBehindText(int id, double fraction);

    // This layer's own too, where a program on the original platform would turn to the
    // platform's accessibility services: what a screen reader is told.
    //
    // The edit control `id` is the dialog's status line: a reader hears it as a status bar
    // called `name`, and each new text as it comes, wherever the focus is. A new text takes away
    // the description of the one before.
    void SetStatusLine(int id, LPCTSTR name);
    // The tooltip of the control `id`, which is also what a reader hears after its name; empty
    // takes both away.
    void SetDlgItemDescription(int id, LPCTSTR text);

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateWindowFromTemplate(CWnd* owner);
    void CreateFrame(const struct DialogTemplate& dialog, CWnd* owner);
    void UseTemplateFont(const struct DialogTemplate& dialog);
    QWidget* CreateControl(const struct ControlTemplate& control, QWidget* parent);
    void CreateSystemMenu(const struct DialogTemplate& dialog);
    void InitDialogAndFocus();
    void DestroyWindow();

    UINT m_templateId;
    CWnd* m_parent;
    int m_baseUnitX = 6;
    int m_baseUnitY = 13;
    bool m_inDataExchange = false;
    bool m_busy = false;
    bool m_closeHeld = false;

    friend class DialogWindow;
};
