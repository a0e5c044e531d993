// The program's identity on the desktop: its application id, desktop entry and installed icons
// must name one another, and the icons must be the program's own icon 128.

#include "CompressorApp.h"
#include "mfc/Resources.h"
#include "resource.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

namespace {

// What the program's start-up says and returns for a command line.
struct StartUp
{
    int status = -1;
    QByteArray output;
    QByteArray errors;
};

// Runs the program's start-up (AfxWinMain) with `arguments`, with no display named in the
// environment, its standard output going to `outputTo` (a file caught for the result when null)
// and its standard error caught.
StartUp RunStartUp(QByteArrayList arguments, const char* outputTo = nullptr)
{
    arguments.prepend("hufpack-gui");
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const char* const display[] = { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" };
    QByteArray kept[std::size(display)];
    for (std::size_t i = 0; i < std::size(display); ++i) {
        kept[i] = qgetenv(display[i]);
        qunsetenv(display[i]);
    }
    QTemporaryFile output;
    QTemporaryFile errors;
    StartUp result;
    if (!output.open() || !errors.open())
        return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOutput = ::dup(1);
    const int savedErrors = ::dup(2);
    const int outputFile = outputTo ? ::open(outputTo, O_WRONLY) : ::dup(output.handle());
    ::dup2(outputFile, 1);
    ::dup2(errors.handle(), 2);
    ::close(outputFile);
    result.status = AfxWinMain(static_cast<int>(arguments.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    std::clearerr(stdout);
    ::dup2(savedOutput, 1);
    ::dup2(savedErrors, 2);
    ::close(savedOutput);
    ::close(savedErrors);
    afxArgc = 0;
    afxArgv = nullptr;
    for (std::size_t i = 0; i < std::size(display); ++i) {
        if (!kept[i].isNull())
            qputenv(display[i], kept[i]);
    }
    // The files were written through descriptors that share their offsets.
    output.seek(0);
    errors.seek(0);
    result.output = output.readAll();
    result.errors = errors.readAll();
    return result;
}

} // namespace

// hufpack-gui's options, answered before any display is needed, as a terminal user meets them.
class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void optionsAreAnsweredWithoutADisplay_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output"); // how standard output begins
        QTest::addColumn<QByteArray>("errors"); // standard error, in full
        const QByteArray usage = "Usage: hufpack-gui [OPTION]... [--] [FILE]\n";
        const QByteArray tryHelp = "Try 'hufpack-gui --help' for more information.\n";
        QTest::newRow("--help") << QByteArrayList { "--help" } << 0 << usage << QByteArray();
        QTest::newRow("-h, after a file")
            << QByteArrayList { "notes.txt", "-h" } << 0 << usage << QByteArray();
        QTest::newRow("--version")
            << QByteArrayList { "--version" } << 0
            << QByteArray("hufpack-gui " HUFPACK_VERSION "\n") << QByteArray();
        QTest::newRow("an unknown option")
            << QByteArrayList { "--frobnicate" } << 2 << QByteArray()
            << "hufpack-gui: unknown option '--frobnicate'\n" + usage + tryHelp;
        QTest::newRow("an unknown option after a file")
            << QByteArrayList { "notes.txt", "-x" } << 2 << QByteArray()
            << "hufpack-gui: unknown option '-x'\n" + usage + tryHelp;
        // Past the options, the window needs a display, which the test has taken away.
        QTest::newRow("after --, a file named --help")
            << QByteArrayList { "--", "--help" } << 1 << QByteArray()
            << QByteArray("hufpack-gui: no display to open its window on; without one, run it "
                          "as xvfb-run hufpack-gui\n");
    }

    void optionsAreAnsweredWithoutADisplay()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errors);
        const StartUp startUp = RunStartUp(arguments);
        QCOMPARE(startUp.status, status);
        QVERIFY2(startUp.output.startsWith(output), startUp.output.constData());
        if (output.isEmpty())
            QCOMPARE(startUp.output, QByteArray());
        QCOMPARE(startUp.errors, errors);
    }

    // Help that cannot be written is not a success.
    void helpThatCannotBeWrittenFails()
    {
        if (::access("/dev/full", W_OK) != 0)
            QSKIP("no /dev/full");
        const StartUp startUp = RunStartUp({ "--help" }, "/dev/full");
        QCOMPARE(startUp.status, 1);
        QCOMPARE(startUp.errors, QByteArray("hufpack-gui: write error: No space left on device\n"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    AfxRegisterResources();
    AppIdentityTest test;
    CommandLineTest commandLine;
    return QTest::qExec(&test, argc, argv) | QTest::qExec(&commandLine, argc, argv);
}
#include "AppIdentityTest.moc"
