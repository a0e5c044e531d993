// The program's identity on the desktop: its application id, desktop entry and installed icons
// must name one another, and the icons must be the program's own icon 128.

#include "CompressorApp.h"
#include "mfc/Resources.h"
#include "resource.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QtTest>

namespace {

QString AppId()
{
    return QStringLiteral(HUFPACK_APP_ID);
}

// The desktop entry as the build configures it for installing.
QString DesktopEntry()
{
    return QStringLiteral(HUFPACK_DIST_BINARY_DIR "/") + AppId() + QStringLiteral(".desktop");
}

QImage Opaque(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class AppIdentityTest : public QObject
{
    Q_OBJECT

private slots:
    void applicationIdReachesThePlatform()
    {
        CWinApp* const app = AfxGetApp();
        QVERIFY2(app && dynamic_cast<CCompressorApp*>(app), "the program's own application object");
        QCOMPARE(QString::fromUtf8(app->m_pszAppID), AppId());
        QVERIFY(app->InitApplication());
        QCOMPARE(QGuiApplication::desktopFileName(), AppId());
    }

    void desktopEntryNamesTheIdAndTheProgram()
    {
        QVERIFY2(QFile::exists(DesktopEntry()), qPrintable(DesktopEntry()));
        QSettings entry(DesktopEntry(), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value("Icon").toString(), AppId());
        // A file manager hands the entry one file to open.
        QCOMPARE(entry.value("Exec").toString(), QStringLiteral("hufpack-gui %f"));
        QCOMPARE(entry.value("MimeType").toString(), QStringLiteral("application/x-hufpack"));
        QCOMPARE(entry.value("Name").toString(), QStringLiteral("Hufpack"));
        // X11 window managers match a window to its entry by WM_CLASS, which Qt takes from the
        // program's file name.
        QCOMPARE(entry.value("StartupWMClass").toString(), QStringLiteral("hufpack-gui"));
    }

    void installedIconsAreIcon128_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("32x32") << 32;
        QTest::newRow("16x16") << 16;
    }

    void installedIconsAreIcon128()
    {
        QFETCH(int, size);
        const QString path = QStringLiteral(HUFPACK_DIST_SOURCE_DIR "/icons/%1x%1/apps/%2.png")
                                 .arg(size)
                                 .arg(AppId());
        const QImage installed(path);
        QVERIFY2(!installed.isNull(), qPrintable(path));

        const HICON icon = FindIcon(IDR_MAINFRAME);
        QVERIFY(icon);
        const auto image
            = std::find_if(icon->images.begin(), icon->images.end(),
                           [size](const char* const* xpm) { return QImage(xpm).width() == size; });
        QVERIFY2(image != icon->images.end(), "icon 128 has an image of this size");
        const QImage own(*image);
        QCOMPARE(installed.size(), own.size());
        // Transparent pixels compare equal whatever their colour channels hold.
        QVERIFY2(Opaque(installed) == Opaque(own),
                 "the installed PNG is icon 128's image, pixel for pixel");
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    AfxRegisterResources();
    AppIdentityTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "AppIdentityTest.moc"
