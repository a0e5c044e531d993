// The main dialog's behaviour: data exchange, the message map, and every handler with its status
// texts, the file jobs run on a worker thread.

#include "CompressorDlg.h"

#include "AboutDlg.h"
#include "hufpack/FileJobs.h"
#include "mfc/FileDialog.h"
#include "mfc/Resources.h"
#include "mfc/WinApp.h"
#include "resource.h"

#include <atomic>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kOverwriteNote = "Please note that the destination file will be overwritten";
// What a screen reader calls the status line, which has no label.
constexpr const char* kStatusLineName = "Status";

// The status line's text for a job's result: by result, from Done (0) down to SameFile (-4).
const char* StatusText(hufpack::JobResult result)
{
    static constexpr const char* kTexts[] = {
        "Done!",
        "The source file cannot be opened / destination file cannot be written",
        "You must only decode a file encoded by this program.",
        "The source file is too large for this format.",
        "Please select a different destination file.",
    };
    const int index = -static_cast<int>(result);
    return index >= 0 && index < static_cast<int>(std::size(kTexts)) ? kTexts[index] : kTexts[1];
}

// The detail of a failed job: the file it could not use, by the path in its field, and why
// ("/home/user/notes.txt: Permission denied"); empty for a job that was done.
std::string OutcomeDetail(const hufpack::JobOutcome& outcome, const std::string& source,
                          const std::string& destination)
{
    if (outcome.result == hufpack::JobResult::Done)
        return {};
    const std::string reason = hufpack::DescribeFailure(outcome);
    const std::string* const path = outcome.file == hufpack::JobFile::Source ? &source
        : outcome.file == hufpack::JobFile::Destination                      ? &destination
                                                                             : nullptr;
    return path && !path->empty() ? *path + ": " + reason : reason;
}

} // namespace

CCompressorDlg::CCompressorDlg(CWnd* parent) : CDialog(IDD_MAIN_DIALOG, parent)
{
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME) : nullptr;
}

void CCompressorDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_DECODE_SOURCE, m_decodeSource);
    DDX_Text(pDX, IDC_DECODE_DEST, m_decodeDest);
    DDX_Text(pDX, IDC_ENCODE_SOURCE, m_encodeSource);
    DDX_Text(pDX, IDC_ENCODE_DEST, m_encodeDest);
    DDX_Text(pDX, IDC_STATUS, m_status);
}

BEGIN_MESSAGE_MAP(CCompressorDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_DECODE_SOURCE_BROWSE, OnBrowseDecodeSource)
ON_EN_UPDATE(IDC_DECODE_SOURCE, OnUpdateSourcePath)
ON_EN_UPDATE(IDC_DECODE_DEST, OnUpdateDestPath)
ON_BN_CLICKED(IDC_DECODE_DEST_BROWSE, OnBrowseDecodeDest)
ON_BN_CLICKED(IDC_DECODE, OnDecode)
ON_EN_UPDATE(IDC_ENCODE_SOURCE, OnUpdateSourcePath)
ON_EN_UPDATE(IDC_ENCODE_DEST, OnUpdateDestPath)
ON_BN_CLICKED(IDC_ENCODE_SOURCE_BROWSE, OnBrowseEncodeSource)
ON_BN_CLICKED(IDC_ENCODE_DEST_BROWSE, OnBrowseEncodeDest)
ON_BN_CLICKED(IDC_ENCODE, OnEncode)
ON_EN_UPDATE(IDC_STATUS, OnUpdateStatus)
ON_WM_DROPFILES()
END_MESSAGE_MAP()

BOOL CCompressorDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The About entry goes at the end of the system menu. Command identifiers of the system menu
    // keep their low four bits free for the platform.
    static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX);
    if (CMenu* systemMenu = GetSystemMenu(FALSE)) {
        CString aboutMenu;
        aboutMenu.LoadString(IDS_ABOUTBOX);
        if (!aboutMenu.IsEmpty()) {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // Files dropped from a file manager fill a source or a destination.
    DragAcceptFiles(TRUE);

    // A screen reader hears the status line's outcomes wherever the focus is.
    SetStatusLine(IDC_STATUS, kStatusLineName);

    m_status = "Ready...";
    UpdateData(FALSE);
    return TRUE; // the first tab stop, "&Close", takes the focus
}

void CCompressorDlg::OnSysCommand(UINT id, LPARAM)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        Default();
    }
}

void CCompressorDlg::IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight,
                                int& x, int& y)
{
    x = (clientWidth - iconWidth + 1) / 2;
    y = (clientHeight - iconHeight + 1) / 2;
}

void CCompressorDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, dc.GetSafeHdc(), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    int x = 0;
    int y = 0;
    IconOrigin(rect.Width(), rect.Height(), cxIcon, cyIcon, x, y);
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CCompressorDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CCompressorDlg::Browse(CString& field, bool destination)
{
    CFileDialog chooser(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr,
                        nullptr);
    chooser.DoModal();
    field = chooser.GetPathName();
    if (destination)
        m_status = kOverwriteNote;
    UpdateData(FALSE);
}

void CCompressorDlg::RunJob(const CString& source, const CString& destination, bool encode)
{
    if (_mbscmp(source, destination) == 0) {
        m_status = StatusText(hufpack::JobResult::SameFile);
        UpdateData(FALSE);
        return;
    }
    m_status = "Working....";
    UpdateData(FALSE);
    const std::string sourcePath = source;
    const std::string destinationPath = destination;
    // The job runs on a worker thread, so the window stays painted and answers the window
    // manager; the dialog takes no input until it is done, so jobs never overlap.
    m_jobDone = 0;
    m_jobTotal = 0;
    hufpack::JobOptions options;
    options.progress = [this](std::int64_t done, std::int64_t total) {
        OnJobProgress(done, total);
        return true;
    };
    hufpack::JobOutcome outcome;
    RunInBackground(
        [&] {
            outcome
                = hufpack::RunFileJob(encode ? hufpack::JobKind::Encode : hufpack::JobKind::Decode,
                                      sourcePath, destinationPath, options);
        },
        [&] {
            if (const std::int64_t total = m_jobTotal; total > 0)
                ShowProgressBehindText(IDC_STATUS, static_cast<double>(m_jobDone) / total);
        });
    ShowProgressBehindText(IDC_STATUS, -1);
    // The job's report on standard output, as EncodeFile and DecodeFile print it.
    hufpack::PrintFirstFormReport(outcome);
    m_status = StatusText(outcome.result);
    UpdateData(FALSE);
    // The status texts are fixed; which file and why go to the status line's tooltip and its
    // description for a screen reader, until the next status.
    SetDlgItemDescription(IDC_STATUS, OutcomeDetail(outcome, sourcePath, destinationPath).c_str());
}

void CCompressorDlg::OnJobProgress(std::int64_t done, std::int64_t total)
{
    m_jobDone = done;
    m_jobTotal = total;
}

void CCompressorDlg::OnDecode()
{
    RunJob(m_decodeSource, m_decodeDest, false);
}

void CCompressorDlg::OnEncode()
{
    RunJob(m_encodeSource, m_encodeDest, true);
}

void CCompressorDlg::OpenAtStart(const CString& path)
{
    constexpr std::string_view kSuffix = ".huf";
    const bool compressed = path.size() > kSuffix.size() && path.ends_with(kSuffix);
    (compressed ? m_decodeSource : m_encodeSource) = path;
}

// Everything from the template, in dialog units mapped to pixels: the controls stand where it
// places them, and a group is told by the source field it frames.
CString* CCompressorDlg::DropTarget(POINT point, bool& destination)
{
    const DialogTemplate* const dialog = FindDialogTemplate(IDD_MAIN_DIALOG);
    if (!dialog)
        return nullptr;
    const auto frameOf = [this](const ControlTemplate& control) {
        return MapDialogRect(
            { control.x, control.y, control.x + control.cx, control.y + control.cy });
    };
    const auto placeOf = [&](int id) {
        for (const ControlTemplate& control : dialog->controls) {
            if (control.id == id)
                return frameOf(control);
        }
        return RECT {};
    };
    const auto contains = [](const RECT& rect, POINT at) {
        return at.x >= rect.left && at.x < rect.right && at.y >= rect.top && at.y < rect.bottom;
    };
    destination = true;
    if (contains(placeOf(IDC_DECODE_DEST), point))
        return &m_decodeDest;
    if (contains(placeOf(IDC_ENCODE_DEST), point))
        return &m_encodeDest;
    destination = false;
    const RECT decodeSource = placeOf(IDC_DECODE_SOURCE);
    const RECT encodeSource = placeOf(IDC_ENCODE_SOURCE);
    for (const ControlTemplate& control : dialog->controls) {
        const RECT frame = frameOf(control);
        if (control.kind != ControlKind::GroupBox || !contains(frame, point))
            continue;
        if (contains(frame, { decodeSource.left, decodeSource.top }))
            return &m_decodeSource;
        if (contains(frame, { encodeSource.left, encodeSource.top }))
            return &m_encodeSource;
    }
    return nullptr;
}

void CCompressorDlg::OnDropFiles(HDROP drop)
{
    // One file at a time: a drop of several names no one source or destination.
    if (DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        std::vector<char> path(DragQueryFile(drop, 0, nullptr, 0) + 1);
        DragQueryFile(drop, 0, path.data(), static_cast<UINT>(path.size()));
        POINT point;
        DragQueryPoint(drop, &point);
        bool destination = false;
        if (CString* const field = DropTarget(point, destination)) {
            *field = path.data();
            if (destination)
                m_status = kOverwriteNote;
            UpdateData(FALSE);
        }
    }
    DragFinish(drop);
}

void CCompressorDlg::OnUpdateDestPath()
{
    UpdateData(TRUE);
    m_status = kOverwriteNote;
    UpdateData(FALSE);
}

void CCompressorDlg::OnUpdateSourcePath()
{
    UpdateData(TRUE);
}

void CCompressorDlg::OnUpdateStatus()
{
    UpdateData(FALSE);
}
