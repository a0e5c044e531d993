// The file chooser: Qt's file dialog, run modally, and the path it gives as the file system's
// bytes.

#include "FileDialog.h"

#include "WinApp.h"

#include <QFile>
#include <QFileDialog>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// The one entry of `folder` that Qt shows as `name`; `name` as Qt encodes it when no entry or
// more than one does, since two names that read alike cannot be told apart.
QByteArray EntryShownAs(const QByteArray& folder, const QString& name)
{
    const QByteArray encoded = QFile::encodeName(name);
    DIR* const entries = ::opendir(folder.constData());
    if (!entries)
        return encoded;
    QByteArray found;
    int matches = 0;
    while (const dirent* const entry = ::readdir(entries)) {
        if (QFile::decodeName(entry->d_name) == name) {
            found = entry->d_name;
            ++matches;
        }
    }
    ::closedir(entries);
    return matches == 1 ? found : encoded;
}

// The file system's bytes for a path that Qt gives as text. Qt decodes a name that is not UTF-8
// with U+FFFD, and encoding that back names another file; so each part of the path that does
// not exist as encoded, and holds U+FFFD, is looked for among its folder's entries as Qt shows
// them. A part that holds U+FFFD itself and exists as encoded is taken as it stands.
QByteArray FileSystemPath(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info;
    if (encoded.isEmpty() || ::lstat(encoded.constData(), &info) == 0)
        return encoded;
    QByteArray resolved;
    const QStringList parts = path.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray folder = i == 0 ? QByteArray(".") : resolved.isEmpty() ? "/" : resolved;
        if (i > 0)
            resolved += '/';
        const QString& part = parts[i];
        QByteArray name = QFile::encodeName(part);
        if (part.contains(QChar::ReplacementCharacter)
            && ::lstat((resolved + name).constData(), &info) != 0 && errno == ENOENT)
            name = EntryShownAs(folder, part);
        resolved += name;
    }
    return resolved;
}

} // namespace

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
    m_pathName = FileSystemPath(chooser.selectedFiles().front()).toStdString();
    return IDOK;
}
