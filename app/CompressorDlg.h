#pragma once

// The main dialog: a "Decompress" and a "Compress" group, each with a source, a destination, two
// "Browse" buttons and an action button, and a status line that reports every outcome.

#include "mfc/Dialog.h"

#include <atomic>
#include <cstdint>

class CCompressorDlg : public CDialog
{
public:
    explicit CCompressorDlg(CWnd* parent = nullptr);

    // The fields are the dialog's model; the controls show them.
    CString m_decodeSource;
    CString m_decodeDest;
    CString m_encodeSource;
    CString m_encodeDest;
    CString m_status;

    // The handlers, public so that tests can drive them as the framework does.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBrowseDecodeSource() { Browse(m_decodeSource, false); }
    void OnBrowseDecodeDest() { Browse(m_decodeDest, true); }
    void OnBrowseEncodeSource() { Browse(m_encodeSource, false); }
    void OnBrowseEncodeDest() { Browse(m_encodeDest, true); }
    void OnDecode();
    void OnEncode();
    void OnUpdateSourcePath();
    void OnUpdateDestPath();
    void OnUpdateStatus();
    void OnDropFiles(HDROP drop);

    // A file named when the program starts: a compressed file (".huf") is the "Decompress"
    // group's source, any other file the "Compress" group's. Call it before the window opens.
    void OpenAtStart(const CString& path);

    // Where OnPaint puts the icon while minimized, for a client area of this size: centred, the
    // +1 rounding, integer division truncating toward zero.
    static void IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight, int& x,
                           int& y);

protected:
    HICON m_hIcon;

    BOOL OnInitDialog() override;
    // A running job's progress, `done` of `total` units, reported on the job's thread: noted for
    // the status line's bar, which the dialog's own thread draws from it.
    virtual void OnJobProgress(std::int64_t done, std::int64_t total);
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()

private:
    // A Browse button: runs the file chooser, and the chosen path, or nothing after Cancel,
    // replaces `field`; a destination's Browse posts the overwrite note either way.
    void Browse(CString& field, bool destination);
    // Shows "Working...." at once, runs the job on a worker thread with its progress behind the
    // status text, and shows its outcome.
    void RunJob(const CString& source, const CString& destination, bool encode);
    // The field that a file dropped at `point` fills, or null: a destination field takes it as
    // the destination; anywhere else in a group, the group's source takes it.
    CString* DropTarget(POINT point, bool& destination);

    std::atomic<std::int64_t> m_jobDone { 0 };
    std::atomic<std::int64_t> m_jobTotal { 0 };
};
