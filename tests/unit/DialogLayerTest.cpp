// The MFC-style layer on its own: templates in dialog units, message maps, data exchange, modal
// loops and the file chooser.

#include "DialogTestSupport.h"
#include "TestSupport.h"
#include "mfc/Dialog.h"
#include "mfc/FileDialog.h"
#include "mfc/Resources.h"
#include "mfc/WinApp.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

namespace {

constexpr UINT kTemplate = 900;
constexpr int kEdit = 901;
constexpr int kOther = 902;
constexpr int kButton = 903;

// A form laid out as the main dialog is: its group box and labels come last in the template,
// and only their places tell which field each names.
constexpr UINT kFormTemplate = 910;
constexpr int kFormClose = 911;
constexpr int kFormSource = 912;
constexpr int kFormSourceBrowse = 913;
constexpr int kFormDest = 914;
constexpr int kFormDestBrowse = 915;
constexpr int kFormGo = 916;
constexpr int kFormLoose = 917;

// A dialog that counts what reaches its handlers.
class CCountingDlg : public CDialog
{
public:
    CCountingDlg() : CDialog(kTemplate) { }
    CString m_text;
    CString m_other;
    int m_updates = 0;
    int m_clicks = 0;

    void OnUpdateText() { ++m_updates; }
    void OnClick() { ++m_clicks; }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, kEdit, m_text);
        DDX_Text(pDX, kOther, m_other);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCountingDlg, CDialog)
ON_EN_UPDATE(kEdit, OnUpdateText)
ON_EN_UPDATE(kOther, OnUpdateText)
ON_BN_CLICKED(kButton, OnClick)
END_MESSAGE_MAP()

} // namespace

void AfxRegisterResources()
{
    RegisterDialogTemplate(
        { kTemplate,
          "Test",
          0,
          0,
          200,
          100,
          WS_POPUP | WS_CAPTION | WS_SYSMENU,
          0,
          "MS Sans Serif",
          8,
          {
              { ControlKind::Edit, kEdit, "", 10, 10, 100, 14, WS_BORDER | WS_TABSTOP },
              { ControlKind::Edit, kOther, "", 10, 30, 100, 14,
                WS_BORDER | WS_TABSTOP | ES_READONLY },
              { ControlKind::PushButton, kButton, "Go", 120, 10, 40, 14, WS_TABSTOP },
          } });
    constexpr DWORD kField = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
    RegisterDialogTemplate(
        { kFormTemplate,
          "Form",
          0,
          0,
          250,
          110,
          WS_POPUP | WS_CAPTION | WS_SYSMENU,
          0,
          "MS Sans Serif",
          8,
          {
              { ControlKind::PushButton, kFormClose, "&Close", 190, 2, 50, 14,
                BS_DEFPUSHBUTTON | WS_TABSTOP },
              { ControlKind::Edit, kFormSource, "", 60, 25, 100, 14, kField | ES_READONLY },
              { ControlKind::PushButton, kFormSourceBrowse, "Browse", 165, 25, 35, 13, WS_TABSTOP },
              // Its label sits two units lower than the field, as in the main dialog.
              { ControlKind::Edit, kFormDest, "", 60, 43, 100, 14, kField },
              { ControlKind::PushButton, kFormDestBrowse, "Browse", 165, 43, 35, 13, WS_TABSTOP },
              // Beside both lines: a Browse stands between it and either field.
              { ControlKind::PushButton, kFormGo, "Go!", 205, 34, 30, 20, WS_TABSTOP },
              // Below the group, with no label.
              { ControlKind::Edit, kFormLoose, "", 60, 85, 100, 10, kField | ES_READONLY },
              { ControlKind::GroupBox, -1, "&Pack", 5, 15, 240, 50, BS_GROUPBOX },
              { ControlKind::Static, -1, "Source", 15, 25, 30, 15, SS_LEFT | WS_GROUP },
              { ControlKind::Static, -1, "Destination", 15, 45, 40, 15, SS_LEFT | WS_GROUP },
          } });
}

namespace {

class CFormDlg : public CDialog
{
public:
    CFormDlg() : CDialog(kFormTemplate) { }
};

QString AccessibleText(QWidget* widget, QAccessible::Text kind)
{
    return QAccessible::queryAccessibleInterface(widget)->text(kind);
}

} // namespace

// The layer's contracts that the dialog relies on.
class DialogLayerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { AfxRegisterResources(); }

    void userEditsNotifyAndDataExchangeDoesNot()
    {
        CCountingDlg dlg;
        QVERIFY(dlg.Create(kTemplate));
        auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(kEdit));
        QVERIFY(edit);
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("ab"));
        QCOMPARE(dlg.m_updates, 2); // one per edit
        edit->selectAll();
        edit->cut();
        QCOMPARE(dlg.m_updates, 3);
        edit->insert(QStringLiteral("pasted"));
        QCOMPARE(dlg.m_updates, 4);

        // A push changes both controls and notifies nobody: dropped, not deferred.
        dlg.m_text = "pushed";
        dlg.m_other = "read-only";
        dlg.UpdateData(FALSE);
        QCoreApplication::processEvents();
        QCOMPARE(dlg.m_updates, 4);
        QCOMPARE(edit->text(), QStringLiteral("pushed"));
        // An equal text is left alone: the caret stays.
        edit->setCursorPosition(2);
        dlg.UpdateData(FALSE);
        QCOMPARE(edit->cursorPosition(), 2);
        // A pull takes the whole text.
        edit->setText(QStringLiteral("typed"));
        dlg.UpdateData(TRUE);
        QCOMPARE(std::string(dlg.m_text), std::string("typed"));
    }

    // A field may hold bytes that are not UTF-8 (a file's name from an older system), which its
    // control shows with U+FFFD. A pull must keep them while the control still shows what a push
    // of the field shows, however often it runs: a change handler pulls every field.
    void aPullReplacesOnlyAFieldWhoseTextChanged_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("typed"); // null: the control is left as the push left it
        QTest::addColumn<QByteArray>("pulled");
        QTest::newRow("not UTF-8, untouched")
            << QByteArray("caf\xe9.txt") << QString() << QByteArray("caf\xe9.txt");
        QTest::newRow("not UTF-8, typed over")
            << QByteArray("caf\xe9.txt") << QStringLiteral("typed") << QByteArray("typed");
    }

    void aPullReplacesOnlyAFieldWhoseTextChanged()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, typed);
        QFETCH(QByteArray, pulled);
        CCountingDlg dlg;
        QVERIFY(dlg.Create(kTemplate));
        dlg.m_text = field.toStdString();
        dlg.m_other = "\xe9t\xe9";
        dlg.UpdateData(FALSE);
        if (!typed.isNull())
            qobject_cast<QLineEdit*>(dlg.GetDlgItem(kEdit))->setText(typed);
        for (int pull = 0; pull < 2; ++pull) {
            dlg.UpdateData(TRUE);
            QCOMPARE(QByteArray::fromStdString(dlg.m_text), pulled);
            QCOMPARE(QByteArray::fromStdString(dlg.m_other), QByteArray("\xe9t\xe9"));
        }
    }

    // Qt's chooser lists no name that is not UTF-8 and hands back text, in which such a name
    // reads U+FFFD; the path it gives must be the file system's bytes. In the scratch folder:
    // `entries` (a name ending in '/' is a folder); `typed` is decoded as Qt decodes names, and
    // typed into the chooser.
    void theChooserGivesTheFileSystemsBytes_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("chosen");
        QTest::newRow("a folder's name and a file's")
            << QByteArrayList { "caf\xe9/", "caf\xe9/caf\xe9.txt" }
            << QByteArray("caf\xe9/caf\xe9.txt") << QByteArray("caf\xe9/caf\xe9.txt");
        QTest::newRow("a new name: as Qt encodes it")
            << QByteArrayList {} << QByteArray("new\xe9.huf") << QByteArray("new\xef\xbf\xbd.huf");
        QTest::newRow("two names that read alike: neither")
            << QByteArrayList { "caf\xe9.txt", "caf\xe8.txt" } << QByteArray("caf\xe9.txt")
            << QByteArray("caf\xef\xbf\xbd.txt");
        QTest::newRow("a name that holds U+FFFD itself comes first")
            << QByteArrayList { "caf\xe9.txt", "caf\xef\xbf\xbd.txt" } << QByteArray("caf\xe9.txt")
            << QByteArray("caf\xef\xbf\xbd.txt");
    }

    void theChooserGivesTheFileSystemsBytes()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, chosen);
        const hufpack::test::ScratchDir dir;
        for (const QByteArray& entry : entries) {
            if (entry.endsWith('/'))
                std::filesystem::create_directory(dir / entry.chopped(1).toStdString());
            else
                hufpack::test::WriteFile(dir / entry.toStdString(), hufpack::test::BytesOf("x"));
        }
        CFileDialog chooser(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
        AnswerNextFileChooser(
            QFile::decodeName(QByteArray::fromStdString(dir / typed.toStdString())));
        QCOMPARE(chooser.DoModal(), IDOK);
        QCOMPARE(QByteArray::fromStdString(chooser.GetPathName()),
                 QByteArray::fromStdString(dir / chosen.toStdString()));
    }

    // A reader hears a field by its label and its group, a Browse by the field it serves, and
    // finds each control inside the group box whose frame holds it. (Every field was an unnamed
    // "edit" with no label, every Browse just "Browse", and the groups empty panels beside their
    // controls.)
    void aReaderHearsEachControlByItsLabelAndGroup_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("group"); // the title of the group box that holds it
        QTest::addColumn<QStringList>("labelledBy");
        QTest::newRow("a button outside the group") << kFormClose << "Close"
                                                    << ""
                                                    << "" << QStringList {};
        QTest::newRow("a field and the label before it")
            << kFormSource << "Pack source"
            << ""
            << "&Pack" << QStringList { "Source", "Pack" };
        QTest::newRow("its Browse") << kFormSourceBrowse << "Browse"
                                    << "Pack source"
                                    << "&Pack" << QStringList { "Pack" };
        QTest::newRow("a field whose label sits lower")
            << kFormDest << "Pack destination"
            << ""
            << "&Pack" << QStringList { "Destination", "Pack" };
        QTest::newRow("the second Browse") << kFormDestBrowse << "Browse"
                                           << "Pack destination"
                                           << "&Pack" << QStringList { "Pack" };
        QTest::newRow("a button beside both lines serves neither")
            << kFormGo << "Go!"
            << ""
            << "&Pack" << QStringList { "Pack" };
        QTest::newRow("a field with no label, in no group") << kFormLoose << ""
                                                            << ""
                                                            << "" << QStringList {};
    }

    void aReaderHearsEachControlByItsLabelAndGroup()
    {
        QFETCH(int, id);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QString, group);
        QFETCH(QStringList, labelledBy);
        CFormDlg dlg;
        QVERIFY(dlg.Create(kFormTemplate));
        QWidget* const control = dlg.GetDlgItem(id);
        QVERIFY2(control, "GetDlgItem finds the control, in a group box too");
        QCOMPARE(AccessibleText(control, QAccessible::Name), name);
        QCOMPARE(AccessibleText(control, QAccessible::Description), description);
        QAccessibleInterface* const iface = QAccessible::queryAccessibleInterface(control);
        const auto* const box = qobject_cast<QGroupBox*>(iface->parent()->object());
        QCOMPARE(box ? box->title() : QString(), group);
        QStringList labels;
        for (const auto& [label, relation] : iface->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
        labels.sort();
        labelledBy.sort();
        QCOMPARE(labels, labelledBy);
    }

    // In their group boxes the controls stand exactly where the template puts them, and Tab
    // still goes through them in the template's order.
    void controlsStandWhereTheTemplatePutsThem()
    {
        CFormDlg dlg;
        QVERIFY(dlg.Create(kFormTemplate));
        QWidget* const window = dlg.GetSafeHwnd();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const auto textOf = [](QWidget* widget) {
            if (auto* label = qobject_cast<QLabel*>(widget))
                return label->text();
            if (auto* box = qobject_cast<QGroupBox*>(widget))
                return box->title();
            return QString();
        };
        std::vector<QWidget*> tabStops;
        for (const ControlTemplate& control : FindDialogTemplate(kFormTemplate)->controls) {
            QWidget* widget = control.id == -1 ? nullptr : dlg.GetDlgItem(control.id);
            for (QWidget* candidate : window->findChildren<QWidget*>(QStringLiteral("-1"))) {
                if (!widget && textOf(candidate) == QString::fromStdString(control.text))
                    widget = candidate;
            }
            QVERIFY2(widget, control.text.c_str());
            const RECT place = dlg.MapDialogRect(
                { control.x, control.y, control.x + control.cx, control.y + control.cy });
            QCOMPARE(widget->mapTo(window, QPoint(0, 0)), QPoint(place.left, place.top));
            QCOMPARE(widget->height(), place.bottom - place.top);
            if (control.kind != ControlKind::Static) // a label may be widened for its font
                QCOMPARE(widget->width(), place.right - place.left);
            if (control.style & WS_TABSTOP)
                tabStops.push_back(widget);
        }
        tabStops.front()->setFocus();
        for (std::size_t i = 1; i <= tabStops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), tabStops[i % tabStops.size()]);
        }
    }

    // Shift+F10 and the Menu key open the focused control's context menu, and on a control
    // that has none, the dialog's: the system menu, which only a right click opened (openbox
    // takes Alt+Space). An edit field keeps its own (Copy, Paste...).
    void theKeyboardOpensTheSystemMenu_data()
    {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("opens"); // "system", "its own", or empty for no menu
        QTest::newRow("Shift+F10 on a button")
            << kButton << int(Qt::Key_F10) << int(Qt::ShiftModifier) << "system";
        QTest::newRow("the Menu key on a button")
            << kButton << int(Qt::Key_Menu) << int(Qt::NoModifier) << "system";
        QTest::newRow("Shift+F10 in a field")
            << kEdit << int(Qt::Key_F10) << int(Qt::ShiftModifier) << "its own";
        QTest::newRow("the Menu key in a read-only field")
            << kOther << int(Qt::Key_Menu) << int(Qt::NoModifier) << "its own";
        QTest::newRow("F10 alone") << kButton << int(Qt::Key_F10) << int(Qt::NoModifier) << "";
    }

    void theKeyboardOpensTheSystemMenu()
    {
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, opens);
        CCountingDlg dlg;
        QVERIFY(dlg.Create(kTemplate));
        QVERIFY(QTest::qWaitForWindowActive(dlg.GetSafeHwnd()));
        QWidget* const control = dlg.GetDlgItem(focus);
        control->setFocus();
        const QMenu* const systemMenu = dlg.GetSystemMenu(FALSE)->GetSafeHmenu();
        QString opened;
        // A menu is closed once the window system has made it the active window, as a user
        // could close it at the earliest: closed before that, its activation would still be
        // on the way and arrive for a window that is gone.
        const auto see = [&opened, systemMenu] {
            auto* const menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu && menu->windowHandle() && menu->windowHandle()->isActive()) {
                opened = menu == systemMenu ? QStringLiteral("system") : QStringLiteral("its own");
                menu->close();
            }
        };
        // The system menu runs a modal loop, so it is seen and closed from a timer that fires
        // at every turn of that loop; an edit's menu pops up and the key press returns: it is
        // seen and closed the same way afterwards.
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, see);
        watcher.start();
        QTest::keyClick(control, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        while (QApplication::activePopupWidget())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        watcher.stop();
        QCoreApplication::processEvents(); // what the window system says about the closed menu
        QCOMPARE(opened, opens);
        // The focus goes back to the control the menu was opened on. Asked of the window, not
        // of the application: a platform with no window manager may leave no window active
        // once the menu's is gone, and what the user sees then depends on when it says so.
        QCOMPARE(dlg.GetSafeHwnd()->focusWidget(), control);
    }

    void clicksReachTheMapAndUnmappedMessagesGetDefaults()
    {
        CCountingDlg dlg;
        QVERIFY(dlg.Create(kTemplate));
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(kButton)), Qt::LeftButton);
        QCOMPARE(dlg.m_clicks, 1);
        QVERIFY(dlg.FindHandler(WM_COMMAND, BN_CLICKED, kButton));
        QVERIFY2(dlg.FindHandler(WM_COMMAND, BN_CLICKED, IDOK), "IDOK falls to CDialog's map");
        QVERIFY(!dlg.FindHandler(WM_COMMAND, EN_UPDATE, kButton));
    }

    void dialogUnitsFollowTheFont()
    {
        CCountingDlg dlg;
        QVERIFY(dlg.Create(kTemplate));
        const QFontMetrics metrics(dlg.GetSafeHwnd()->font());
        const int averageWidth = (metrics.horizontalAdvance(QStringLiteral(
                                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))
                                      / 26
                                  + 1)
            / 2;
        const RECT pixels = dlg.MapDialogRect({ 0, 0, 4, 8 });
        QCOMPARE(pixels.right, averageWidth);
        QCOMPARE(pixels.bottom, metrics.height());
        QCOMPARE(dlg.GetSafeHwnd()->width(), dlg.MapDialogRect({ 0, 0, 200, 100 }).right);
        QCOMPARE(dlg.GetDlgItem(kButton)->x(), dlg.MapDialogRect({ 120, 0, 0, 0 }).left);
    }

    // The file named on the command line, from the arguments as they came: a name that is not
    // UTF-8 keeps its bytes, and after "--" a name may start with '-'. Of the options, --help
    // and --version are answered, and any other is refused; the first of them decides.
    void theCommandLineNamesTheFileToOpen_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("request");
        QTest::addColumn<QByteArray>("option"); // the option refused
        const int run = CCommandLineInfo::Run;
        const int help = CCommandLineInfo::ShowHelp;
        const int version = CCommandLineInfo::ShowVersion;
        const int unknown = CCommandLineInfo::UnknownOption;
        QTest::newRow("a file") << QByteArrayList { "/home/user/a.txt" }
                                << QByteArray("/home/user/a.txt") << run << QByteArray();
        QTest::newRow("the first of two") << QByteArrayList { "first.huf", "second.huf" }
                                          << QByteArray("first.huf") << run << QByteArray();
        QTest::newRow("not UTF-8")
            << QByteArrayList { "caf\xe9.txt" } << QByteArray("caf\xe9.txt") << run << QByteArray();
        QTest::newRow("after --, a name starting with '-'")
            << QByteArrayList { "--", "-x.txt" } << QByteArray("-x.txt") << run << QByteArray();
        QTest::newRow("-- alone") << QByteArrayList { "--" } << QByteArray() << run << QByteArray();
        QTest::newRow("'-' is a name")
            << QByteArrayList { "-" } << QByteArray("-") << run << QByteArray();
        QTest::newRow("--help") << QByteArrayList { "--help" } << QByteArray() << help
                                << QByteArray();
        QTest::newRow("-h") << QByteArrayList { "-h" } << QByteArray() << help << QByteArray();
        QTest::newRow("--version")
            << QByteArrayList { "--version" } << QByteArray() << version << QByteArray();
        QTest::newRow("-V") << QByteArrayList { "-V" } << QByteArray() << version << QByteArray();
        QTest::newRow("--help after a file")
            << QByteArrayList { "a.txt", "--help" } << QByteArray("a.txt") << help << QByteArray();
        QTest::newRow("--version before --help")
            << QByteArrayList { "--version", "--help" } << QByteArray() << version << QByteArray();
        QTest::newRow("an unknown option")
            << QByteArrayList { "-x.txt", "a.txt" } << QByteArray("a.txt") << unknown
            << QByteArray("-x.txt");
        QTest::newRow("an unknown option before --help")
            << QByteArrayList { "--frobnicate", "--help" } << QByteArray() << unknown
            << QByteArray("--frobnicate");
        QTest::newRow("--help with a value") << QByteArrayList { "--help=all" } << QByteArray()
                                             << unknown << QByteArray("--help=all");
        // Qt's own options are not taken: its settings come from the environment.
        QTest::newRow("one of Qt's options")
            << QByteArrayList { "-style", "fusion" } << QByteArray("fusion") << unknown
            << QByteArray("-style");
        QTest::newRow("--help after --")
            << QByteArrayList { "--", "--help" } << QByteArray("--help") << run << QByteArray();
    }

    void theCommandLineNamesTheFileToOpen()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(int, request);
        QFETCH(QByteArray, option);
        arguments.prepend("hufpack-gui");
        std::vector<char*> argv;
        for (QByteArray& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        afxArgc = static_cast<int>(arguments.size());
        afxArgv = argv.data();
        CWinApp app;
        CCommandLineInfo info;
        app.ParseCommandLine(info);
        afxArgc = 0;
        afxArgv = nullptr;
        QCOMPARE(QByteArray::fromStdString(info.m_strFileName), file);
        QCOMPARE(int(info.m_request), request);
        QCOMPARE(QByteArray::fromStdString(info.m_strOption), option);
    }

    void aDropHandsOverItsFilesAndPoint()
    {
        DropFiles drop { { "/tmp/a file.txt", "/tmp/b" }, { 12, 34 } };
        const HDROP handle = &drop;
        QCOMPARE(DragQueryFile(handle, 0xFFFFFFFF, nullptr, 0), 2u);
        QCOMPARE(DragQueryFile(handle, 0, nullptr, 0), 15u);
        char path[8];
        QCOMPARE(DragQueryFile(handle, 0, path, sizeof path), 7u);
        QVERIFY2(std::string(path) == "/tmp/a ", "cut to fit, and always ended");
        QCOMPARE(DragQueryFile(handle, 2, path, sizeof path), 0u);
        POINT point;
        QVERIFY(DragQueryPoint(handle, &point));
        QCOMPARE(point.x, 12);
        QCOMPARE(point.y, 34);
    }
};

QTEST_MAIN(DialogLayerTest)
#include "DialogLayerTest.moc"
