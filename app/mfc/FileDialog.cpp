// The file chooser: Qt's file dialog, run modally, and the path it gives.

#include "FileDialog.h"

#include "WinApp.h"

#include <QFileDialog>

CFileDialog::CFileDialog(BOOL openFileDialog, LPCTSTR, LPCTSTR fileName, DWORD flags, LPCTSTR,
                         CWnd* parent)
    : m_open(openFileDialog), m_flags(flags), m_parent(parent), m_pathName(fileName ? fileName : "")
{
}

int CFileDialog::DoModal()
{
    CWnd* const owner = m_parent ? m_parent : (AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr);
    QFileDialog chooser(owner ? owner->GetSafeHwnd() : nullptr);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setAcceptMode(m_open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    if (m_open || !(m_flags & OFN_OVERWRITEPROMPT))
        chooser.setOption(QFileDialog::DontConfirmOverwrite);
    chooser.setWindowTitle(m_open ? QStringLiteral("Open") : QStringLiteral("Save As"));
    chooser.setWindowModality(Qt::WindowModal);
    m_pathName.clear();
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return IDCANCEL;
    m_pathName = chooser.selectedFiles().front().toStdString();
    return IDOK;
}
