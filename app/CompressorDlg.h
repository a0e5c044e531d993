#pragma once

#include "mfc/Dialog.h"

// The main dialog: a "Decompress" and a "Compress" group, each with a source, a destination, two
// "Browse" buttons and an action button, and a status line that reports every outcome.
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
    void OnBrowseDecodeSource();
    void OnBrowseDecodeDest();
    void OnBrowseEncodeSource();
    void OnBrowseEncodeDest();
    void OnDecode();
    void OnEncode();
    void OnUpdateSourcePath();
    void OnUpdateDestPath();
    void OnUpdateStatus();

    // Where OnPaint puts the icon while minimized, for a client area of this size: centred, the
    // +1 rounding, integer division truncating toward zero.
    static void IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight, int& x,
                           int& y);

protected:
    HICON m_hIcon;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()

private:
    // Runs the file chooser and returns the chosen path, or empty after Cancel.
    CString Browse();
    // Shows "Working...." at once, runs the job, and shows its outcome.
    template<typename Job> void RunJob(const CString& source, const CString& destination, Job job);
};
