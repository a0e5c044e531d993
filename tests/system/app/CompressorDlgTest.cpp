// The main dialog driven as a user drives it: every field, button and status text, the jobs'
// outcomes, the About box and the painting, on real widgets.

#include "CompressorDlg.h"

#include "AboutDlg.h"
#include "DialogTestSupport.h"
#include "JobGate.h"
#include "TestSupport.h"
#include "hufpack/FileJobs.h"
#include "mfc/WinApp.h"
#include "resource.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

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

// The status line's texts.
const QString kReady = QStringLiteral("Ready...");
const QString kOverwriteNote
    = QStringLiteral("Please note that the destination file will be overwritten");
const QString kSameFile = QStringLiteral("Please select a different destination file.");
const QString kWorking = QStringLiteral("Working....");
const QString kDone = QStringLiteral("Done!");
const QString kCannotOpen
    = QStringLiteral("The source file cannot be opened / destination file cannot be written");
const QString kNotOurs = QStringLiteral("You must only decode a file encoded by this program.");
const QString kTooLarge = QStringLiteral("The source file is too large for this format.");

// A text file of `mebibytes` MiB, for jobs that report their progress many times: one block of
// text written again and again.
void WriteLargeText(const std::string& path, int mebibytes)
{
    const Bytes block = hufpack::test::TextLikeBytes(1 << 20, 9);
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < mebibytes; ++i)
        out.write(reinterpret_cast<const char*>(block.data()), std::ssize(block));
}

// How far the progress bar behind an edit control's text has got: 0 to 1, or -1 for no bar.
double ProgressShown(const QLineEdit* edit)
{
    const QGradient* const bar = edit->palette().brush(QPalette::Base).gradient();
    if (!bar || bar->stops().size() < 2)
        return -1;
    return bar->stops()[1].first;
}

} // namespace

// What a job leaves at its destination.
enum class Leaves {
    Nothing,
    TheEnginesBytes,
    TheText,
    TheOldBytes,
    NoFile,
    AnEmptyFile,
    ALinkReplaced
};
Q_DECLARE_METATYPE(Leaves)

// How the paths reach their fields.
enum class Arrives { NamedAtStart, Chosen, Dropped };
Q_DECLARE_METATYPE(Arrives)

// The dialog as the program has it, its jobs' progress also reported to the job gate, if a test
// made one.
class GatedDlg : public CCompressorDlg
{
protected:
    void OnJobProgress(std::int64_t done, std::int64_t total) override
    {
        CCompressorDlg::OnJobProgress(done, total);
        hufpack::test::JobGate::Report(done, total);
    }
};

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
    // The tooltip on the screen, as a tooltip window shows it beside the control it belongs
    // to; null when none is shown.
    static const QLabel* ShownTip()
    {
        for (QWidget* const window : QApplication::topLevelWidgets()) {
            if (window->windowType() == Qt::ToolTip && window->isVisible())
                return qobject_cast<const QLabel*>(window);
        }
        return nullptr;
    }
    // A point of the control `id` in the window's coordinates, where drops are handled.
    QPoint InWindow(int id, QPoint (QRect::*where)() const = &QRect::center) const
    {
        QWidget* const control = m_dlg->GetDlgItem(id);
        return control->mapTo(m_dlg->GetSafeHwnd(), (control->rect().*where)());
    }
    std::string Path(const char* name) const { return *m_dir / name; }
    void Choose(int browseButton, const std::string& path)
    {
        AnswerNextFileChooser(QString::fromStdString(path));
        QTest::mouseClick(Button(browseButton), Qt::LeftButton);
    }
    // Drops one file on the control `landsOn`, its URL written as file managers write it, every
    // byte of the name that is not plain ASCII percent-encoded.
    void Drop(int landsOn, const std::string& path, const QByteArray& host = {})
    {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"),
                     "file://" + host + QByteArray::fromStdString(path).toPercentEncoding("/")
                         + "\r\n");
        QWidget* const window = m_dlg->GetSafeHwnd();
        const QPoint point = InWindow(landsOn);
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<hufpack::test::ScratchDir>();
        m_dlg = std::make_unique<GatedDlg>();
        theTestApp.m_pMainWnd = m_dlg.get();
        QVERIFY(m_dlg->Create(IDD_MAIN_DIALOG));
        QVERIFY(QTest::qWaitForWindowActive(m_dlg->GetSafeHwnd()));
    }

    void cleanup()
    {
        theTestApp.m_pMainWnd = nullptr;
        m_dlg.reset();
        m_dir.reset();
    }

    void opensReadyWithTheAboutEntryAndCloseFocused()
    {
        QCOMPARE(Status(), kReady);
        const QList<QAction*> items = m_dlg->GetSystemMenu(FALSE)->GetSafeHmenu()->actions();
        QVERIFY2(items.size() >= 2, "the system menu has its standard items and the About entry");
        QVERIFY(items[items.size() - 2]->isSeparator());
        QCOMPARE(items.last()->text(), QStringLiteral("&About...."));
        QCOMPARE(items.last()->data().toUInt(), UINT(IDM_ABOUTBOX));
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
        QCOMPARE(Status(), kOverwriteNote);
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
        QCOMPARE(Status(), kOverwriteNote);
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string("xyz"));
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        dest->selectAll();
        dest->cut();
        QCOMPARE(Status(), kOverwriteNote);
        QCOMPARE(std::string(m_dlg->m_encodeDest), std::string());
    }

    void browseFillsTheFieldAndCancelEmptiesIt()
    {
        hufpack::test::WriteFile(Path("source.txt"), hufpack::test::BytesOf("hello"));
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("source.txt"));
        QCOMPARE(Edit(IDC_ENCODE_SOURCE)->text().toStdString(), Path("source.txt"));
        QCOMPARE(Status(), kDone); // a source Browse leaves the status alone
        Choose(IDC_ENCODE_SOURCE_BROWSE, "");
        QCOMPARE(Edit(IDC_ENCODE_SOURCE)->text(), QString()); // Cancel empties the field
        QCOMPARE(Status(), kDone);

        Choose(IDC_DECODE_DEST_BROWSE, Path("not-there-yet.txt"));
        QCOMPARE(std::string(m_dlg->m_decodeDest), Path("not-there-yet.txt"));
        QCOMPARE(Status(), kOverwriteNote);
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        Choose(IDC_DECODE_DEST_BROWSE, "");
        QCOMPARE(std::string(m_dlg->m_decodeDest), std::string());
        QCOMPARE(Status(), kOverwriteNote);
        QVERIFY2(!std::filesystem::exists(Path("not-there-yet.txt")), "choosing creates nothing");
    }

    // What each job's outcome is and leaves behind, one row each. Files in the scratch folder:
    // notes.txt (text), notes.huf (the engine's compressed form of it), bad.huf (not ours),
    // old.txt (an old destination), empty (no bytes).

    void everyJobReportsItsOutcome_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Leaves>("leaves");
        QTest::newRow("encode, both empty")
            << QString() << QString() << int(IDC_ENCODE) << kSameFile << Leaves::Nothing;
        QTest::newRow("decode, both empty")
            << QString() << QString() << int(IDC_DECODE) << kSameFile << Leaves::Nothing;
        QTest::newRow("a source and no destination")
            << "notes.txt" << QString() << int(IDC_ENCODE) << kCannotOpen << Leaves::Nothing;
        QTest::newRow("a destination and no source")
            << QString() << "out.txt" << int(IDC_DECODE) << kCannotOpen << Leaves::NoFile;
        QTest::newRow("encode") << "notes.txt"
                                << "packed.huf" << int(IDC_ENCODE) << kDone
                                << Leaves::TheEnginesBytes;
        QTest::newRow("encode over an old file")
            << "notes.txt"
            << "old.txt" << int(IDC_ENCODE) << kDone << Leaves::TheEnginesBytes;
        QTest::newRow("decode") << "notes.huf"
                                << "out.txt" << int(IDC_DECODE) << kDone << Leaves::TheText;
        QTest::newRow("decode a file that is not ours")
            << "bad.huf"
            << "old.txt" << int(IDC_DECODE) << kNotOurs << Leaves::TheOldBytes;
        QTest::newRow("the same file by another name")
            << "notes.txt"
            << "./notes.txt" << int(IDC_ENCODE) << kSameFile << Leaves::TheText;
        QTest::newRow("an empty source")
            << "empty"
            << "empty.huf" << int(IDC_ENCODE) << kDone << Leaves::AnEmptyFile;
    }

    // A failed job's status text stays as it is; its tooltip and its description for a screen
    // reader say which file, by the path in its field, and why; the next status takes them away.
    // The tooltip shows while the status line has the keyboard focus, beside it, so that a user
    // without a mouse reads it too (it showed only under the mouse).
    // The files are those of everyJobReportsItsOutcome, and "folder", a folder.
    void aFailedJobsDetailNamesTheFileAndWhy_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("detail"); // "%1" stands for the scratch folder
        QTest::newRow("a missing source") << "missing.txt"
                                          << "out.huf" << int(IDC_ENCODE) << kCannotOpen
                                          << "%1/missing.txt: No such file or directory";
        QTest::newRow("a destination in a missing folder")
            << "notes.txt"
            << "nowhere/out.huf" << int(IDC_ENCODE) << kCannotOpen
            << "%1/nowhere/out.huf: No such file or directory";
        QTest::newRow("a destination that is a folder")
            << "notes.txt"
            << "folder" << int(IDC_ENCODE) << kCannotOpen << "%1/folder: Is a directory";
        QTest::newRow("a file that is not ours") << "bad.huf"
                                                 << "out.txt" << int(IDC_DECODE) << kNotOurs
                                                 << "%1/bad.huf: not a file this program wrote";
        // An empty field names nothing: the reason alone.
        QTest::newRow("no destination") << "notes.txt" << QString() << int(IDC_ENCODE)
                                        << kCannotOpen << "No such file or directory";
        QTest::newRow("done") << "notes.txt"
                              << "packed.huf" << int(IDC_ENCODE) << kDone << "";
    }

    void aFailedJobsDetailNamesTheFileAndWhy()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, button);
        QFETCH(QString, status);
        QFETCH(QString, detail);
        hufpack::test::WriteFile(Path("notes.txt"), hufpack::test::TextLikeBytes(20000, 3));
        hufpack::test::WriteFile(Path("bad.huf"), hufpack::test::BytesOf("not a compressed file"));
        std::filesystem::create_directory(Path("folder"));
        const bool decoding = button == IDC_DECODE;
        const int destField = decoding ? IDC_DECODE_DEST : IDC_ENCODE_DEST;
        Choose(decoding ? IDC_DECODE_SOURCE_BROWSE : IDC_ENCODE_SOURCE_BROWSE,
               Path(source.toUtf8().constData()));
        if (!destination.isEmpty())
            QTest::keyClicks(Edit(destField), QString::fromStdString(Path(destination.toUtf8())));
        QAccessibleInterface* const statusLine
            = QAccessible::queryAccessibleInterface(Edit(IDC_STATUS));
        const QString expected = detail.arg(QString::fromStdString(m_dir->Path().string()));
        for (int run = 0; run < 2; ++run) { // a detail replaces the one before, the same or not
            QTest::mouseClick(Button(button), Qt::LeftButton);
            QCOMPARE(Status(), status);
            QCOMPARE(Edit(IDC_STATUS)->toolTip(), expected);
            QCOMPARE(statusLine->text(QAccessible::Description), expected);
        }
        QVERIFY2(!ShownTip(), "no tooltip shows while the status line has not the focus");
        m_dlg->GetSafeHwnd()->activateWindow(); // back from the file chooser
        QVERIFY(QTest::qWaitForWindowActive(m_dlg->GetSafeHwnd()));
        Button(IDC_ENCODE)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Button(IDC_ENCODE), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Edit(IDC_STATUS));
        QCOMPARE(Status(), status);
        const QLabel* const tip = ShownTip();
        QCOMPARE(tip ? tip->text() : QString(), expected);
        if (tip) {
            const QRect line(Edit(IDC_STATUS)->mapToGlobal(QPoint(0, 0)), Edit(IDC_STATUS)->size());
            QVERIFY2(!tip->geometry().intersects(line), "the tooltip leaves the status readable");
        }
        QTest::keyClick(Edit(IDC_STATUS), Qt::Key_Tab);
        QVERIFY2(!ShownTip(), "the tooltip goes with the focus");
        // The next status, whatever brings it, takes the detail away.
        QTest::keyClick(Edit(destField), Qt::Key_X);
        QCOMPARE(Status(), kOverwriteNote);
        QCOMPARE(Edit(IDC_STATUS)->toolTip(), QString());
        QCOMPARE(statusLine->text(QAccessible::Description), QString());
    }

    // The same for jobs the engine guards: 2,147,483,643 zero bytes, one more than the header can
    // describe, are refused before anything is written (such a file once decoded nowhere).
    void aSourceTooLargeForTheFormatIsRefused()
    {
        CheckJob("zeros", "zeros.huf", IDC_ENCODE, kTooLarge, Leaves::NoFile);
    }

    // Every job of the dialog replaces: another user's link is replaced itself, and the file it
    // points at is never written.
    void anotherUsersLinkAtTheDestinationIsReplacedItself()
    {
        CheckJob("notes.txt", "link", IDC_ENCODE, kDone, Leaves::ALinkReplaced);
    }

    void everyJobReportsItsOutcome()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, button);
        QFETCH(QString, status);
        QFETCH(Leaves, leaves);
        CheckJob(source, destination, button, status, leaves);
    }

private:
    // Runs one job as a user does (the source through its chooser, the destination typed) twice,
    // and checks its status and what it leaves.
    void CheckJob(const QString& source, const QString& destination, int button,
                  const QString& status, Leaves leaves)
    {
        const Bytes text = hufpack::test::TextLikeBytes(200000, 3);
        hufpack::test::WriteFile(Path("notes.txt"), text);
        QVERIFY(hufpack::EncodeFile(Path("notes.txt"), Path("notes.huf"))
                == hufpack::JobResult::Done);
        hufpack::test::WriteFile(Path("bad.huf"), hufpack::test::BytesOf("not a compressed file"));
        const Bytes old = hufpack::test::BytesOf("an old destination");
        hufpack::test::WriteFile(Path("old.txt"), old);
        hufpack::test::WriteFile(Path("empty"), {});
        if (source == "zeros") {
            std::ofstream(Path("zeros")).close();
            std::filesystem::resize_file(Path("zeros"), 2147483643);
        }
        if (leaves == Leaves::ALinkReplaced) {
            if (::geteuid() != 0)
                QSKIP("needs root, to give a link to another user");
            QVERIFY(::symlink(Path("old.txt").c_str(), Path("link").c_str()) == 0);
            QVERIFY(::lchown(Path("link").c_str(), 4242, 4242) == 0);
        }

        const bool decoding = button == IDC_DECODE;
        const auto full = [this](const QString& name) {
            return name.isEmpty() ? QString() : QString::fromStdString(*m_dir / name.toStdString());
        };
        // The source through its chooser (the field is read-only), the destination typed.
        if (!source.isEmpty())
            Choose(decoding ? IDC_DECODE_SOURCE_BROWSE : IDC_ENCODE_SOURCE_BROWSE,
                   full(source).toStdString());
        QTest::keyClicks(Edit(decoding ? IDC_DECODE_DEST : IDC_ENCODE_DEST), full(destination));
        for (int run = 0; run < 2; ++run) { // paths stay after a job, which can run again at once
            QTest::mouseClick(Button(button), Qt::LeftButton);
            QCOMPARE(Status(), status);
            QCOMPARE(Edit(decoding ? IDC_DECODE_DEST : IDC_ENCODE_DEST)->text(), full(destination));
        }
        const std::string written = full(destination).toStdString();
        switch (leaves) {
        case Leaves::Nothing:
            break;
        case Leaves::TheEnginesBytes:
            QVERIFY2(hufpack::test::ReadFile(written) == hufpack::test::ReadFile(Path("notes.huf")),
                     "the dialog writes what the engine writes");
            break;
        case Leaves::TheText:
            QVERIFY2(hufpack::test::ReadFile(written) == text, "the text, byte for byte");
            break;
        case Leaves::TheOldBytes:
            QVERIFY2(hufpack::test::ReadFile(written) == old, "a failed job keeps the old bytes");
            break;
        case Leaves::NoFile:
            QVERIFY2(!std::filesystem::exists(written), "a failed job creates nothing");
            break;
        case Leaves::AnEmptyFile:
            QCOMPARE(std::filesystem::file_size(written), std::uintmax_t { 0 });
            break;
        case Leaves::ALinkReplaced:
            QVERIFY2(!std::filesystem::is_symlink(written), "the link itself is replaced");
            QVERIFY(hufpack::test::ReadFile(written) == hufpack::test::ReadFile(Path("notes.huf")));
            QVERIFY2(hufpack::test::ReadFile(Path("old.txt")) == old, "what it pointed at is kept");
            break;
        }
        QVERIFY2(hufpack::test::ReadFile(Path("notes.txt")) == text, "a source is only read");
    }

private slots:
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
        // The About box is modal: OnSysCommand returns only once it is closed, so by now it has
        // opened and closed, or it never will.
        if (!opensAbout)
            delete waiting.data();
        QCOMPARE(opened, opensAbout);
        QCOMPARE(Status(), kDone);
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

    // From the keyboard alone: the Menu key on "&Close", then the menu's last item, opens the
    // About box.
    void theAboutBoxOpensFromTheKeyboard()
    {
        QWidget* const close = Button(IDOK);
        close->setFocus();
        QString about;
        QPointer<QTimer> waiting = WhenModalOpens([&about](QWidget* modal) {
            about = modal->windowTitle();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        auto* chooser = new QTimer(this);
        chooser->setInterval(10);
        QString chosen;
        connect(chooser, &QTimer::timeout, [chooser, &chosen] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            chooser->stop();
            QTest::keyClick(menu, Qt::Key_Up); // from no item, Up goes to the last
            chosen = menu->activeAction() ? menu->activeAction()->text() : QString();
            QTest::keyClick(menu, Qt::Key_Return);
        });
        chooser->start();
        QTest::keyClick(close, Qt::Key_Menu);
        delete chooser;
        delete waiting.data();
        QCOMPARE(chosen, QStringLiteral("&About...."));
        QCOMPARE(about, QStringLiteral("About...."));
        QCOMPARE(Status(), kReady);
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

    // What a screen reader meets, control by control. (Every field was an unnamed "edit", the
    // four Browse buttons alike, the groups empty panels beside their controls, and the status
    // line an unnamed read-only edit.)
    void aReaderHearsEveryControlByName_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("group");
        const int button = QAccessible::Button;
        const int field = QAccessible::EditableText;
        QTest::newRow("Close") << int(IDOK) << button << "Close"
                               << ""
                               << "";
        QTest::newRow("decompression source")
            << int(IDC_DECODE_SOURCE) << field << "Decompress source"
            << ""
            << "Decompress";
        QTest::newRow("its Browse, Decompress")
            << int(IDC_DECODE_SOURCE_BROWSE) << button << "Browse"
            << "Decompress source"
            << "Decompress";
        QTest::newRow("decompression destination")
            << int(IDC_DECODE_DEST) << field << "Decompress destination"
            << ""
            << "Decompress";
        QTest::newRow("its Browse, Decompress destination")
            << int(IDC_DECODE_DEST_BROWSE) << button << "Browse"
            << "Decompress destination"
            << "Decompress";
        QTest::newRow("Decode!") << int(IDC_DECODE) << button << "Decode!"
                                 << ""
                                 << "Decompress";
        QTest::newRow("compression source") << int(IDC_ENCODE_SOURCE) << field << "Compress source"
                                            << ""
                                            << "Compress";
        QTest::newRow("its Browse, Compress") << int(IDC_ENCODE_SOURCE_BROWSE) << button << "Browse"
                                              << "Compress source"
                                              << "Compress";
        QTest::newRow("compression destination")
            << int(IDC_ENCODE_DEST) << field << "Compress destination"
            << ""
            << "Compress";
        QTest::newRow("its Browse, Compress destination")
            << int(IDC_ENCODE_DEST_BROWSE) << button << "Browse"
            << "Compress destination"
            << "Compress";
        QTest::newRow("Encode!") << int(IDC_ENCODE) << button << "Encode!"
                                 << ""
                                 << "Compress";
        QTest::newRow("the status line")
            << int(IDC_STATUS) << int(QAccessible::StatusBar) << "Status"
            << ""
            << "";
    }

    void aReaderHearsEveryControlByName()
    {
        QFETCH(int, id);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(QString, group);
        QAccessibleInterface* const control
            = QAccessible::queryAccessibleInterface(m_dlg->GetDlgItem(id));
        QCOMPARE(int(control->role()), role);
        QCOMPARE(control->text(QAccessible::Name), name);
        QCOMPARE(control->text(QAccessible::Description), description);
        QAccessibleInterface* const parent = control->parent();
        QCOMPARE(parent->role() == QAccessible::Grouping ? parent->text(QAccessible::Name)
                                                         : QString(),
                 group);
        if (role == QAccessible::StatusBar) {
            QVERIFY2(control->textInterface(), "a reader can read the status line's text");
            QCOMPARE(control->textInterface()->text(0, control->textInterface()->characterCount()),
                     kReady);
        }
    }

    void aFileNamedAtStartFillsTheSourceOfItsKind_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("field");
        QTest::newRow("compressed")
            << QStringLiteral("/home/user/notes.txt.huf") << int(IDC_DECODE_SOURCE);
        QTest::newRow("any other")
            << QStringLiteral("/home/user/notes.txt") << int(IDC_ENCODE_SOURCE);
        QTest::newRow("missing, shown all the same")
            << QStringLiteral("/nowhere/missing.huf") << int(IDC_DECODE_SOURCE);
        QTest::newRow("just the suffix") << QStringLiteral(".huf") << int(IDC_ENCODE_SOURCE);
    }

    void aFileNamedAtStartFillsTheSourceOfItsKind()
    {
        QFETCH(QString, file);
        QFETCH(int, field);
        m_dlg = std::make_unique<GatedDlg>();
        m_dlg->OpenAtStart(file.toStdString());
        QVERIFY(m_dlg->Create(IDD_MAIN_DIALOG));
        QCOMPARE(Edit(field)->text(), file);
        for (const int other :
             { IDC_DECODE_SOURCE, IDC_DECODE_DEST, IDC_ENCODE_SOURCE, IDC_ENCODE_DEST }) {
            if (other != field)
                QVERIFY2(Edit(other)->text().isEmpty(), "only the one source is filled");
        }
        QCOMPARE(Status(), kReady);
    }

    void droppedFilesFillTheFieldTheyLandOn_data()
    {
        QTest::addColumn<int>("landsOn"); // a control; 0 for the "Compress" group's background
        QTest::addColumn<int>("field"); // the field that takes the file; 0 for none
        QTest::addColumn<bool>("postsTheNote");
        QTest::newRow("decompression source")
            << int(IDC_DECODE_SOURCE) << int(IDC_DECODE_SOURCE) << false;
        QTest::newRow("Decode! fills its group's source")
            << int(IDC_DECODE) << int(IDC_DECODE_SOURCE) << false;
        QTest::newRow("decompression destination")
            << int(IDC_DECODE_DEST) << int(IDC_DECODE_DEST) << true;
        QTest::newRow("compression source's Browse")
            << int(IDC_ENCODE_SOURCE_BROWSE) << int(IDC_ENCODE_SOURCE) << false;
        QTest::newRow("the Compress group's frame") << 0 << int(IDC_ENCODE_SOURCE) << false;
        QTest::newRow("compression destination")
            << int(IDC_ENCODE_DEST) << int(IDC_ENCODE_DEST) << true;
        QTest::newRow("the status line, outside the groups") << int(IDC_STATUS) << 0 << false;
    }

    void droppedFilesFillTheFieldTheyLandOn()
    {
        QFETCH(int, landsOn);
        QFETCH(int, field);
        QFETCH(bool, postsTheNote);
        QWidget* const window = m_dlg->GetSafeHwnd();
        const QPoint point = landsOn ? InWindow(landsOn)
                                     : InWindow(IDC_ENCODE_SOURCE, &QRect::topLeft)
                + QPoint(-4, 20); // below the "Source" label
        QVERIFY2(!landsOn || window->childAt(point) == m_dlg->GetDlgItem(landsOn),
                 "the drop lands on that control");
        m_dlg->m_status = "Done!";
        m_dlg->UpdateData(FALSE);
        const QString path = QString::fromStdString(Path("dropped.txt"));
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QVERIFY2(enter.isAccepted(), "a local file is taken");
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        for (const int id :
             { IDC_DECODE_SOURCE, IDC_DECODE_DEST, IDC_ENCODE_SOURCE, IDC_ENCODE_DEST }) {
            QCOMPARE(Edit(id)->text(), id == field ? path : QString());
        }
        QCOMPARE(Status(), postsTheNote ? kOverwriteNote : kDone);
    }

    void dropsOfSeveralOrNonLocalFilesAreIgnored_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("taken");
        QTest::newRow("two files")
            << QList<QUrl> { QUrl::fromLocalFile("/tmp/a"), QUrl::fromLocalFile("/tmp/b") } << true;
        QTest::newRow("a web address")
            << QList<QUrl> { QUrl("https://example.org/a.huf") } << false;
        QTest::newRow("a file and a web address")
            << QList<QUrl> { QUrl::fromLocalFile("/tmp/a"), QUrl("https://example.org/b") }
            << false;
        QTest::newRow("text, not a file") << QList<QUrl> {} << false;
        // "//other/tmp/a" would name this machine's /other/tmp/a.
        QTest::newRow("a file on another machine")
            << QList<QUrl> { QUrl(QStringLiteral("file://other/tmp/a")) } << false;
    }

    void dropsOfSeveralOrNonLocalFilesAreIgnored()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, taken);
        QWidget* const window = m_dlg->GetSafeHwnd();
        const QPoint point = InWindow(IDC_ENCODE_DEST);
        QMimeData data;
        if (urls.isEmpty())
            data.setText(QStringLiteral("/tmp/a"));
        else
            data.setUrls(urls);
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        QCOMPARE(Edit(IDC_ENCODE_DEST)->text(), QString());
        QCOMPARE(Status(), kReady);
        // Typed text still goes into a destination field as before.
        QTest::keyClicks(Edit(IDC_ENCODE_DEST), QStringLiteral("typed"));
        QCOMPARE(Edit(IDC_ENCODE_DEST)->text(), QStringLiteral("typed"));
    }

    // Names that are not UTF-8, as disks from older systems hold them (here Latin-1 "café"). Qt
    // shows them with U+FFFD, and a path that went through its text named another file: the job
    // must get the file system's bytes however the paths arrive, and keep them while other
    // fields are typed in. Named at start, the source comes with a typed destination; chosen or
    // dropped, both paths come that way.
    void aNameThatIsNotUtf8ReachesTheJob_data()
    {
        QTest::addColumn<Arrives>("arrives");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("destination");
        QTest::addColumn<QByteArray>("host"); // of a dropped file's URL
        QTest::newRow("named at start") << Arrives::NamedAtStart << QByteArray("caf\xe9.txt")
                                        << QByteArray("out.huf") << QByteArray();
        QTest::newRow("chosen in a folder so named, the destination a new name")
            << Arrives::Chosen << QByteArray("caf\xe9/notes.txt") << QByteArray("caf\xe9/new.huf")
            << QByteArray();
        QTest::newRow("dropped, the destination on an old file")
            << Arrives::Dropped << QByteArray("caf\xe9.txt") << QByteArray("caf\xe9/old.huf")
            << QByteArray();
        QTest::newRow("dropped as file://localhost/")
            << Arrives::Dropped << QByteArray("caf\xe9/notes.txt") << QByteArray("caf\xe9.huf")
            << QByteArray("localhost");
    }

    void aNameThatIsNotUtf8ReachesTheJob()
    {
        QFETCH(Arrives, arrives);
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, destination);
        QFETCH(QByteArray, host);
        std::filesystem::create_directory(Path("caf\xe9"));
        const Bytes text = hufpack::test::TextLikeBytes(50000, 5);
        hufpack::test::WriteFile(Path("caf\xe9.txt"), text);
        hufpack::test::WriteFile(Path("caf\xe9/notes.txt"), text);
        hufpack::test::WriteFile(Path("caf\xe9/old.huf"), hufpack::test::BytesOf("old"));
        const std::string sourcePath = Path(source.constData());
        const std::string destinationPath = Path(destination.constData());
        switch (arrives) {
        case Arrives::NamedAtStart:
            m_dlg = std::make_unique<GatedDlg>();
            theTestApp.m_pMainWnd = m_dlg.get();
            m_dlg->OpenAtStart(sourcePath);
            QVERIFY(m_dlg->Create(IDD_MAIN_DIALOG));
            QTest::keyClicks(Edit(IDC_ENCODE_DEST), QString::fromStdString(destinationPath));
            break;
        case Arrives::Chosen:
            Choose(IDC_ENCODE_SOURCE_BROWSE, sourcePath);
            Choose(IDC_ENCODE_DEST_BROWSE, destinationPath);
            break;
        case Arrives::Dropped:
            Drop(IDC_ENCODE_SOURCE, sourcePath, host);
            Drop(IDC_ENCODE_DEST, destinationPath, host);
            break;
        }
        // Each keystroke in the other group's destination pulls every field.
        QTest::keyClicks(Edit(IDC_DECODE_DEST), QStringLiteral("x"));
        QCOMPARE(QByteArray::fromStdString(m_dlg->m_encodeSource),
                 QByteArray::fromStdString(sourcePath));
        QCOMPARE(QByteArray::fromStdString(m_dlg->m_encodeDest),
                 QByteArray::fromStdString(destinationPath));

        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QCOMPARE(Status(), kDone);
        QVERIFY(hufpack::EncodeFile(sourcePath, Path("engine.huf")) == hufpack::JobResult::Done);
        QVERIFY2(hufpack::test::ReadFile(destinationPath)
                     == hufpack::test::ReadFile(Path("engine.huf")),
                 "the file named is the file written");
    }

    // The job is held by a gate at two points of its progress, each until the bar has been
    // seen there, so that what the window does meanwhile is seen on a fast machine as on a slow
    // one.
    void aLongJobShowsProgressTakesNoInputAndHoldsACloseRequest()
    {
        WriteLargeText(Path("large.txt"), 8);
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("large.txt"));
        Edit(IDC_ENCODE_DEST)->setText(QString::fromStdString(Path("large.huf")));
        Edit(IDC_DECODE_DEST)->setText(QStringLiteral("kept"));
        QWidget* const window = m_dlg->GetSafeHwnd();

        hufpack::test::JobGate gate(2);
        QList<double> shown;
        QStringList statuses;
        bool visibleAfterClose = false;
        QTimer watcher;
        watcher.setInterval(10);
        connect(&watcher, &QTimer::timeout, [&] {
            double held = -1;
            if (!gate.Held(&held))
                return;
            statuses << Status();
            if (gate.Stops() == 1 && shown.isEmpty()) {
                // A second job, a typed change and Escape: none of them may be acted on.
                QTest::mouseClick(Button(IDC_DECODE), Qt::LeftButton);
                QTest::keyClicks(Edit(IDC_DECODE_DEST), QStringLiteral("zz"));
                QTest::keyClick(window, Qt::Key_Escape);
                window->close();
                visibleAfterClose = window->isVisible();
            }
            // The bar is drawn ten times a second: the job waits until it shows where it stands.
            if (const double progress = ProgressShown(Edit(IDC_STATUS));
                std::abs(progress - held) < 1e-9) {
                shown << progress;
                gate.Release();
            }
        });
        watcher.start();
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        watcher.stop();

        QCOMPARE(shown.size(), 2); // the bar moved during the job, at both stops
        QVERIFY2(shown[0] > 0 && shown[0] < shown[1] && shown[1] < 1, "and only forward");
        QVERIFY2(statuses.count(kWorking) == statuses.size(),
                 "the status reads Working.... throughout");
        QVERIFY2(visibleAfterClose, "a close request waits for the job");
        QCOMPARE(Edit(IDC_DECODE_DEST)->text(), QStringLiteral("kept"));
        QCOMPARE(Status(), kDone);
        QCOMPARE(ProgressShown(Edit(IDC_STATUS)), -1.0);
        QVERIFY(hufpack::EncodeFile(Path("large.txt"), Path("engine.huf"))
                == hufpack::JobResult::Done);
        QVERIFY(hufpack::test::ReadFile(Path("large.huf"))
                == hufpack::test::ReadFile(Path("engine.huf")));
        QTRY_VERIFY2(!window->isVisible(), "the held close request is carried out after the job");
    }

    // A group's caption stands on its frame's top line, which it breaks, as the original
    // platform draws it (it stood above the frame); the box keeps its template place and size.
    // Told from the window's pixels: the top line is the first row of the box that runs across
    // most of its width, and the caption's letters reach above and below it.
    void groupCaptionsStandOnTheFramesTopLine_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("units"); // the template's place, in dialog units
        QTest::newRow("Decompress") << QStringLiteral("Decompress") << QRect(18, 30, 325, 70);
        QTest::newRow("Compress") << QStringLiteral("Compress") << QRect(18, 105, 325, 70);
    }

    void groupCaptionsStandOnTheFramesTopLine()
    {
        QFETCH(QString, caption);
        QFETCH(QRect, units);
        QGroupBox* box = nullptr;
        for (QGroupBox* const candidate : m_dlg->GetSafeHwnd()->findChildren<QGroupBox*>()) {
            if (candidate->title() == caption)
                box = candidate;
        }
        QVERIFY(box);
        const RECT place
            = m_dlg->MapDialogRect({ units.left(), units.top(), units.left() + units.width(),
                                     units.top() + units.height() });
        QCOMPARE(box->geometry(),
                 QRect(place.left, place.top, place.right - place.left, place.bottom - place.top));

        const QImage shot = m_dlg->GetSafeHwnd()->grab().toImage();
        const QRect area = box->geometry();
        const int band = 2 * box->fontMetrics().height(); // the caption, the frame's top line
        const auto pixel
            = [&](int x, int y) { return shot.pixel(area.left() + x, area.top() + y); };
        std::map<QRgb, int> counts;
        for (int y = 0; y < band; ++y) {
            for (int x = 0; x < area.width(); ++x)
                ++counts[pixel(x, y)];
        }
        const QRgb background
            = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                  return a.second < b.second;
              })->first;
        // The line: the right half of the box, past any caption, drawn all along.
        int line = -1;
        for (int y = 0; y < band && line < 0; ++y) {
            int drawn = 0;
            for (int x = area.width() / 2; x < area.width() - 8; ++x)
                drawn += pixel(x, y) != background;
            if (drawn * 10 >= (area.width() / 2 - 8) * 9)
                line = y;
        }
        QVERIFY2(line >= 0, "the frame has a top line");
        // The caption's letters, in the left part of the box, clear of the frame's side.
        const int captionWidth = box->fontMetrics().horizontalAdvance(caption);
        int top = band;
        int bottom = -1;
        for (int y = 0; y < band; ++y) {
            for (int x = 3; x < 3 * captionWidth / 2 + 20; ++x) {
                if (qGray(pixel(x, y)) < qGray(background) / 2) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        QVERIFY2(bottom >= 0, "the caption is drawn");
        QVERIFY2(top < line && line < bottom,
                 qPrintable(QStringLiteral("the caption's letters, rows %1 to %2, cross the line, "
                                           "row %3")
                                .arg(top)
                                .arg(bottom)
                                .arg(line)));
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
        m_dlg->OnSysCommand(IDM_ABOUTBOX, 0);
        QVERIFY(QFile::exists(folder + QStringLiteral("/about-box.png")));

        // During a long job, held past 40 %: "Working...." with the progress behind it.
        WriteLargeText(Path("photos.tar"), 8);
        Choose(IDC_ENCODE_SOURCE_BROWSE, Path("photos.tar"));
        Edit(IDC_ENCODE_DEST)->setText(QString::fromStdString(Path("photos.tar.huf")));
        hufpack::test::JobGate gate(1, 0.4);
        QTimer camera;
        camera.setInterval(10);
        bool taken = false;
        connect(&camera, &QTimer::timeout, [&] {
            double held = -1;
            if (taken || !gate.Held(&held)
                || std::abs(ProgressShown(Edit(IDC_STATUS)) - held) > 1e-9)
                return;
            // The paths shown are those a user would see, not the test's scratch folder; the
            // fields get them for the picture only, their signals held.
            const QString source = Edit(IDC_ENCODE_SOURCE)->text();
            const QString destination = Edit(IDC_ENCODE_DEST)->text();
            for (const auto& [id, shown] :
                 { std::pair { IDC_ENCODE_SOURCE, QStringLiteral("/home/user/photos.tar") },
                   std::pair { IDC_ENCODE_DEST, QStringLiteral("/home/user/photos.tar.huf") } }) {
                const QSignalBlocker hold(Edit(id));
                Edit(id)->setText(shown);
            }
            taken = m_dlg->GetSafeHwnd()->grab().save(folder
                                                      + QStringLiteral("/main-dialog-working.png"));
            for (const auto& [id, text] : { std::pair { IDC_ENCODE_SOURCE, source },
                                            std::pair { IDC_ENCODE_DEST, destination } }) {
                const QSignalBlocker hold(Edit(id));
                Edit(id)->setText(text);
            }
            gate.Release();
        });
        camera.start();
        QTest::mouseClick(Button(IDC_ENCODE), Qt::LeftButton);
        QVERIFY2(taken, "the job was caught half way");
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

    void aCloseDuringAJobEndsTheDialogAfterIt()
    {
        hufpack::test::ScratchDir dir;
        WriteLargeText(dir / "large.txt", 4);
        GatedDlg dlg;
        dlg.m_encodeSource = dir / "large.txt";
        dlg.m_encodeDest = dir / "large.huf";
        // The job waits at its first report until the close has been asked for.
        hufpack::test::JobGate gate(1);
        bool closedMidJob = false;
        WhenModalOpens([&dlg, &closedMidJob, &gate](QWidget* modal) {
            auto* const closer = new QTimer(modal);
            closer->setInterval(10);
            QObject::connect(closer, &QTimer::timeout, [&dlg, &closedMidJob, &gate, modal, closer] {
                if (!gate.Held())
                    return;
                closer->stop();
                closedMidJob = dlg.IsBusy();
                modal->close();
                gate.Release();
            });
            closer->start();
            QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_ENCODE)),
                              Qt::LeftButton);
        });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QVERIFY2(closedMidJob, "the close came while the job ran");
        QCOMPARE(std::string(dlg.m_status), std::string("Done!"));
        QVERIFY2(std::filesystem::file_size(dir / "large.huf") > 0, "the job finished first");
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
