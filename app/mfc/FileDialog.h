#pragma once

// The file chooser, CFileDialog, and the flags the program passes it.

#include "Dialog.h"

#include <string>

inline constexpr DWORD OFN_HIDEREADONLY = 0x4;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x2;

// The file chooser: Qt's own widget-based file dialog, modal over its owner (the parent, or
// else the application's main window). An open-style chooser on which the chosen name need not
// exist; the read-only check box is never shown, and the overwrite prompt belongs to save-style
// choosers only. Qt's chooser lists no name that is not UTF-8; one reached through a folder or
// typed (read with U+FFFD) is given back as the file system's bytes where they can be told.
class CFileDialog
{
public:
    CFileDialog(BOOL openFileDialog, LPCTSTR defaultExtension = nullptr, LPCTSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR filter = nullptr,
                CWnd* parent = nullptr);

    // IDOK or IDCANCEL.
    int DoModal();
    // The full path of the chosen file, as the file system's bytes; empty when nothing was
    // chosen.
    [[nodiscard]] CString GetPathName() const { return m_pathName; }

private:
    BOOL m_open;
    DWORD m_flags;
    CWnd* m_parent;
    CString m_pathName;
};
