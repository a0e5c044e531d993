// The Qt side of a dialog: what a drop hands over.

#include "DialogWindow.h"

#include <QByteArray>
#include <QMimeData>
#include <QUrl>

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
