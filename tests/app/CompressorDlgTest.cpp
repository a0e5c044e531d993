#include "CompressorDlg.h"

#include "AboutDlg.h"
#include "DialogTestSupport.h"
#include "TestSupport.h"
#include "hufpack/FileJobs.h"
#include "mfc/WinApp.h"
#include "resource.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QtTest>
#include <filesystem>

using hufpack::test::Bytes;

namespace {

class TestApp : public CWinApp
{
};
TestApp theTestApp;

QString ScreenshotFolder()
{
    return QString::fromUtf8(qgetenv("HUFPACK_SCREENSHOTS"));
}

} // namespace

// The main dialog and its About box on real Qt widgets, driven as a user drives them.
class CompressorDlgTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CCompressorDlg> m_dlg;
    std::unique_ptr<hufpack::test::ScratchDir> m_dir;

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(m_dlg->GetDlgItem(id)); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(m_dlg->GetDlgItem(id)); }
    QString Status() const { return Edit(IDC_STATUS)->text(); }
    std::string Path(const char* name) const { return *m_dir / name; }
    void Choose(int browseButton, const std::string& path)
    {
        AnswerNextFileChooser(QString::fromStdString(path));
        QTest::mouseClick(Button(browseButton), Qt::LeftButton);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<hufpack::test::ScratchDir>();
        m_dlg = std::make_unique<CCompressorDlg>();
        theTestApp.m_pMainWnd = m_dlg.get();
        QVERIFY(m_dlg->Create(IDD_MAIN_DIALOG));
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg->GetSafeHwnd()));
    }

    void cleanup()
    {
        theTestApp.m_pMainWnd = nullptr;
        m_dlg.reset();
        m_dir.reset();
    }

    void opensReadyWithTheAboutEntryAndCloseFocused()
    {
        QCOMPARE(Status(), QStringLiteral("Ready..."));
        const QList<QAction*> items = m_dlg->GetSystemMenu(FALSE)->GetSafeHmenu()->actions();
        QVERIFY2(items.size() >= 2, "the system menu has its standard items and the About entry");
        QVERIFY(items[items.size() - 2]->isSeparator());
        QCOMPARE(items.last()->text(), QStringLiteral("&About...."));
        QCOMPARE(items.last()->data().toUInt(), 0x0010u);
        QCOMPARE(QApplication::focusWidget(), Button(IDOK));
        QVERIFY2(Button(IDOK)->isDefault(), "\"&Close\" is the default button");
        QVERIFY2(!m_dlg->GetSafeHwnd()->windowIcon().isNull(), "the window has the icon");
        for (const int id : { IDC_DECODE_SOURCE, IDC_ENCODE_SOURCE, IDC_STATUS })
            QVERIFY2(Edit(id)->isReadOnly(), "sources and the status line are read-only");
        for (const int id : { IDC_DECODE_DEST, IDC_ENCODE_DEST })
            QVERIFY(!Edit(id)->isReadOnly());
    }

    void typingInADestinationPostsTheNoteAndKeepsTheCaret()
    {
        QLineEdit* const dest = Edit(IDC_ENCODE_DEST);
        dest->setFocus();
        QTest::keyClick(dest, Qt::Key_X);
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        QCOMPARE(dest->text(), QStringLiteral("x"));
        QCOMPARE(dest->cursorPosition(), 1);
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string("x"));
        // Typing in the middle: the push must not move the caret to the end.
        QTest::keyClicks(dest, QStringLiteral("yz"));
        dest->setCursorPosition(1);
        QTest::keyClick(dest, Qt::Key_A);
        QCOMPARE(dest->text(), QStringLiteral("xayz"));
        QCOMPARE(dest->cursorPosition(), 2);
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string("xayz"));
        // Deleting and cutting are edits too.
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        QTest::keyClick(dest, Qt::Key_Backspace);
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string("xyz"));
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        dest->selectAll();
        dest->cut();
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string());
    }

    void browseFillsTheFieldAndCancelEmptiesIt()
    {
        hufpack::test::WriteFile(Path("source.txt"), hufpack::test::BytesOf("hello"));
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("source.txt"));
        QCOMPARE(Edit(IDC_ENCODE_SOURCE)->text().toStdString(), Path("source.txt"));
        QCOMPARE(Status(), QStringLiteral("Done!")); // a source Browse leaves the status alone
        Choose(IDC_ENCODE_SOURCE_BROWSE, "");
        QCOMPARE(Edit(IDC_ENCODE_SOURCE)->text(), QString()); // Cancel empties the field
        QCOMPARE(Status(), QStringLiteral("Done!"));

        Choose(IDC_DECODE_DEST_BROWSE, Path("not-there-yet.txt"));
        QCOMPARE(std::string(m_dlg->m_decodeDest), Path("not-there-yet.txt"));
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        Choose(IDC_DECODE_DEST_BROWSE, "");
        QCOMPARE(std::string(m_dlg->m_decodeDest), std::string());
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        QVERIFY2(!std::filesystem::exists(Path("not-there-yet.txt")), "choosing creates nothing");
    }

    void encodeAndDecodeReportEveryOutcome()
    {
        // Both fields empty: refused before anything is opened.
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Please select a different destination file."));
        QTest::mouseClick(Button(IDC_DECODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Please select a different destination file."));

        const Bytes text = hufpack::test::TextLikeBytes(200000, 3);
        hufpack::test::WriteFile(Path("notes.txt"), text);
        // A source and no destination.
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("notes.txt"));
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(),
                 QStringLiteral(
                     "The source file cannot be opened / destination file cannot be written"));
        QVERIFY(hufpack::test::ReadFile(Path("notes.txt")) == text);

        // A destination and no source: the destination is not created.
        QTest::keyClicks(Edit(IDC_DECODE_DEST), QString::fromStdString(Path("out.txt")));
        QTest::mouseClick(Button(IDC_DECODE), Qt::LeftButton);
        QCOMPARE(Status(),
                 QStringLiteral(
                     "The source file cannot be opened / destination file cannot be written"));
        QVERIFY(!std::filesystem::exists(Path("out.txt")));

        // A real job writes what the engine writes, and can be repeated at once.
        QTest::keyClicks(Edit(IDC_ENCODE_DEST), QString::fromStdString(Path("notes.huf")));
        QCOMPARE(Status(),
                 QStringLiteral("Please note that the destination file will be overwritten"));
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Done!"));
        QVERIFY(hufpack::EncodeFile(Path("notes.txt"), Path("engine.huf"))
                == hufpack::JobResult::Done);
        QVERIFY(hufpack::test::ReadFile(Path("notes.huf"))
                == hufpack::test::ReadFile(Path("engine.huf")));
        QCOMPARE(Edit(IDC_ENCODE_SOURCE)->text().toStdString(), Path("notes.txt"));
        QCOMPARE(Edit(IDC_ENCODE_DEST)->text().toStdString(), Path("notes.huf"));
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Done!"));

        Choose(IDC_DECODE_SOURCE_BROWSE, Path("notes.huf"));
        QTest::mouseClick(Button(IDC_DECODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Done!"));
        QVERIFY(hufpack::test::ReadFile(Path("out.txt")) == text);

        // Not a file of ours: refused, and the destination keeps its bytes.
        hufpack::test::WriteFile(Path("bad.huf"), hufpack::test::BytesOf("not a compressed file"));
        Choose(IDC_DECODE_SOURCE_BROWSE, Path("bad.huf"));
        QTest::mouseClick(Button(IDC_DECODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("You must only decode a file encoded by this program."));
        QVERIFY(hufpack::test::ReadFile(Path("out.txt")) == text);

        // The same file by another name is caught by the engine.
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("notes.txt"));
        Edit(IDC_ENCODE_DEST)->setText(QString::fromStdString(*m_dir / "./notes.txt"));
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Please select a different destination file."));
        QVERIFY(hufpack::test::ReadFile(Path("notes.txt")) == text);

        // An empty source gives an empty file.
        hufpack::test::WriteFile(Path("empty"), {});
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("empty"));
        Edit(IDC_ENCODE_DEST)->setText(QString::fromStdString(Path("empty.huf")));
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), QStringLiteral("Done!"));
        QVERIFY(std::filesystem::exists(Path("empty.huf")));
        QCOMPARE(std::filesystem::file_size(Path("empty.huf")), std::uintmax_t { 0 });
    }

    void systemCommandsOpenTheAboutBoxByTheirHighBits_data()
    {
        QTest::addColumn<unsigned>("command");
        QTest::addColumn<bool>("opensAbout");
        QTest::newRow("0x0010") << 0x0010u << true;
        QTest::newRow("0x0017") << 0x0017u << true;
        QTest::newRow("0x001F") << 0x001Fu << true;
        QTest::newRow("0x000F") << 0x000Fu << false;
        QTest::newRow("0x0020") << 0x0020u << false;
        QTest::newRow("SC_MOVE") << 0xF010u << false;
    }

    void systemCommandsOpenTheAboutBoxByTheirHighBits()
    {
        QFETCH(unsigned, command);
        QFETCH(bool, opensAbout);
        m_dlg->m_encodeDest = "kept.huf";
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        bool opened = false;
        QPointer<QTimer> waiting = WhenModalOpens([&opened](QWidget* modal) {
            opened = modal->windowTitle() == QStringLiteral("About....");
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        m_dlg->OnSysCommand(command, 0);
        if (!opensAbout) {
            QTest::qWait(50);
            delete waiting.data();
        }
        QCOMPARE(opened, opensAbout);
        QCOMPARE(Status(), QStringLiteral("Done!"));
        QCOMPARE(Edit(IDC_ENCODE_DEST)->text(), QStringLiteral("kept.huf"));
        QVERIFY(!m_dlg->IsIconic());
    }

    void aRightClickOnTheBackgroundOpensTheSystemMenu()
    {
        // Choose "Minimize" in the menu that the right click opens.
        auto* timer = new QTimer(this);
        timer->setInterval(10);
        QStringList items;
        connect(timer, &QTimer::timeout, [timer, &items] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            timer->stop();
            for (QAction* action : menu->actions()) {
                items << action->text();
                if (action->data().toUInt() == SC_MINIMIZE)
                    menu->setActiveAction(action);
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        timer->start();
        QWidget* const window = m_dlg->GetSafeHwnd();
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 3),
                                window->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(window, &click);
        QVERIFY2(items.contains(QStringLiteral("&About....")), qPrintable(items.join(u',')));
        QVERIFY(items.contains(QStringLiteral("Mi&nimize")));
        QTRY_VERIFY(m_dlg->IsIconic());
    }

    void theSystemMenuMinimizesAndRestores()
    {
        m_dlg->SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        QTRY_VERIFY(m_dlg->IsIconic());
        m_dlg->SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        QTRY_VERIFY(!m_dlg->IsIconic());
    }

    void theMinimizedIconIsCentredByTheIntegerRule()
    {
        int x = 0;
        int y = 0;
        for (const auto& [width, expected] : std::vector<std::pair<int, int>> {
                 { 36, 2 }, { 35, 2 }, { 33, 1 }, { 26, -2 }, { 25, -3 } }) {
            CCompressorDlg::IconOrigin(width, width, 32, 32, x, y);
            QCOMPARE(x, expected);
            QCOMPARE(y, expected);
        }
        // Painted for real while minimized: the icon sits there, and nothing else is drawn.
        m_dlg->GetSafeHwnd()->showMinimized();
        QTRY_VERIFY(m_dlg->IsIconic());
        // The window's own painting, without its controls, which a minimized window does not show.
        QImage image(m_dlg->GetSafeHwnd()->size(), QImage::Format_ARGB32);
        m_dlg->GetSafeHwnd()->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const QImage icon = m_dlg->GetSafeHwnd()->windowIcon().pixmap(32, 32).toImage();
        CCompressorDlg::IconOrigin(image.width(), image.height(), 32, 32, x, y);
        int same = 0;
        for (int dy = 0; dy < 32; ++dy) {
            for (int dx = 0; dx < 32; ++dx) {
                const QColor drawn = image.pixelColor(x + dx, y + dy);
                const QColor wanted = icon.pixelColor(dx, dy);
                same += wanted.alpha() == 0 || drawn.rgb() == wanted.rgb();
            }
        }
        QCOMPARE(same, 32 * 32);
        QVERIFY2(image.pixelColor(5, 5) == m_dlg->GetSafeHwnd()->palette().color(QPalette::Window),
                 "the rest is the erased background, without the controls");
        QCOMPARE(m_dlg->OnQueryDragIcon(), AfxGetApp()->LoadIcon(IDR_MAINFRAME));
    }

    void tabFollowsTheTemplateOrder()
    {
        const std::vector<int> order { IDOK,
                                       IDC_DECODE_SOURCE,
                                       IDC_DECODE_SOURCE_BROWSE,
                                       IDC_DECODE_DEST,
                                       IDC_DECODE_DEST_BROWSE,
                                       IDC_DECODE,
                                       IDC_ENCODE_SOURCE,
                                       IDC_ENCODE_SOURCE_BROWSE,
                                       IDC_ENCODE_DEST,
                                       IDC_ENCODE_DEST_BROWSE,
                                       IDC_ENCODE,
                                       IDC_STATUS,
                                       IDOK };
        Button(IDOK)->setFocus();
        for (std::size_t i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), m_dlg->GetDlgItem(order[i]));
        }
    }

    void screenshots()
    {
        const QString folder = ScreenshotFolder();
        if (folder.isEmpty())
            QSKIP("HUFPACK_SCREENSHOTS names no folder");
        QDir().mkpath(folder);
        Edit(IDC_ENCODE_DEST)->setText(QStringLiteral("/home/user/report.txt.huf"));
        QVERIFY(m_dlg->GetSafeHwnd()->grab().save(folder + QStringLiteral("/main-dialog.png")));
        WhenModalOpens([folder](QWidget* about) {
            about->grab().save(folder + QStringLiteral("/about-box.png"));
            static_cast<QDialog*>(about)->reject();
        });
        m_dlg->OnSysCommand(0x0010, 0);
        QVERIFY(QFile::exists(folder + QStringLiteral("/about-box.png")));
    }
};

// The dialog run modally, as the program runs it: Enter in an edit field ends it through OnOK,
// with the fields pulled; Escape and the window's close end it through OnCancel.
class ModalDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void enterInAnEditFieldEndsTheDialogWithOk()
    {
        CCompressorDlg dlg;
        WhenModalOpens([&dlg](QWidget*) {
            auto* dest = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_ENCODE_DEST));
            dest->setFocus();
            QTest::keyClicks(dest, QStringLiteral("typed.huf"));
            QTest::keyClick(dest, Qt::Key_Return);
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QCOMPARE(std::string(dlg.m_encodeDest), std::string("typed.huf"));
    }

    void escapeAndCloseEndItWithCancel()
    {
        CCompressorDlg dlg;
        WhenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        WhenModalOpens([](QWidget* modal) { modal->close(); });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        WhenModalOpens([&dlg](QWidget*) { dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0); });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    AfxRegisterResources();
    CompressorDlgTest dialog;
    ModalDialogTest modal;
    return QTest::qExec(&dialog, argc, argv) | QTest::qExec(&modal, argc, argv);
}
#include "CompressorDlgTest.moc"
