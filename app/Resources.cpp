// The program's resources as data: the two dialog templates (positions and sizes in dialog
// units), the string table, icon 128 and the version record.

#include "mfc/Resources.h"

#include "mfc/Afx.h"
#include "mfc/WinApp.h"
#include "resource.h"

namespace {

// Icon 128, drawn for Hufpack by app/res/draw_icon.py: a code tree on a blue tile, in the 16
// colours of the VGA palette.
static const char* const kIcon32[] = {
    "32 32 10 1",
    "  c None",
    ". c #000000",
    "B c #0000FF",
    "C c #00FFFF",
    "G c #00FF00",
    "R c #FF0000",
    "W c #FFFFFF",
    "Y c #FFFF00",
    "b c #000080",
    "s c #C0C0C0",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
    " bCCCCCCCCCCCCCCCCCCCCCCCCCCCCb ",
    "bBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBsssssBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBsWWWsBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBsWWWsBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBsWWWsBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBBsssssBBBBBBBBBBBBBb",
    "bBBBBBBBBBBBWBBBBBWBBBBBBBBBBBBb",
    "bBBBBBBBBBBBWBBBBBBWBBBBBBBBBBBb",
    "bBBBBBBBBBBWBBBBBBBBWBBBBBBBBBBb",
    "bBBBBBsssssBBBBBBBBBBsssssBBBBBb",
    "bBBBBBsWWWsBBBBBBBBBBsWWWsBBBBBb",
    "bBBBBBsWWWsBBBBBBBBBBsWWWsBBBBBb",
    "bBBBBBsWWWsBBBBBBBBBBsWWWsBBBBBb",
    "bbbbbbsssssbbbbbbbbbbsssssbbbbbb",
    "bbbbbbbWbWbbbbbbbbbbbbWbWbbbbbbb",
    "bbbbbbWbbbWbbbbbbbbbbWbbbWbbbbbb",
    "bbbbbbWbbbWbbbbbbbbbbWbbbWbbbbbb",
    "bbbbbWbbbbbWbbbbbbbbWbbbbbWbbbbb",
    "bbbbbWbbbbbWbbbbbbbbWbbbbbWbbbbb",
    "b......bb......b......bb......bb",
    "b.YYYY.bb.GGGG.b.RRRR.bb.CCCC.bb",
    "b.YYYY.bb.GGGG.b.RRRR.bb.CCCC.bb",
    "b.YYYY.bb.GGGG.b.RRRR.bb.CCCC.bb",
    "b.YYYY.bb.GGGG.b.RRRR.bb.CCCC.bb",
    "b......bb......b......bb......bb",
    "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
    "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
    " bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb ",
    "  bbbbbbbbbbbbbbbbbbbbbbbbbbbb  ",
};

static const char* const kIcon16[] = {
    "16 16 8 1",        "  c None",         "B c #0000FF",      "C c #00FFFF",
    "G c #00FF00",      "R c #FF0000",      "W c #FFFFFF",      "Y c #FFFF00",
    "b c #000080",      " bbbbbbbbbbbbbb ", "bBBBBBBBBBBBBBBb", "bBBBBBWWWBBBBBBb",
    "bBBBBBWWWBBBBBBb", "bBBBBBWWWBBBBBBb", "bBBBBBWBBWBBBBBb", "bBBBBWBBBBWBBBBb",
    "bBBBWBBBBBBWBBBb", "bbbbWbbbbbbWbbbb", "bbbWbWbbbbWbWbbb", "bbbWbWbbbbWbWbbb",
    "bYYYbGGGRRRbCCCb", "bYYYbGGGRRRbCCCb", "bYYYbGGGRRRbCCCb", "bbbbbbbbbbbbbbbb",
    " bbbbbbbbbbbbbb ",
};

constexpr DWORD kEditStyle = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;

DialogTemplate MainDialog()
{
    using enum ControlKind;
    return {
        IDD_MAIN_DIALOG,
        "Hufpack",
        0,
        0,
        362,
        233,
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME,
        WS_EX_APPWINDOW,
        "MS Sans Serif",
        8,
        {
            { PushButton, IDOK, "&Close", 290, 10, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP },
            { Edit, IDC_DECODE_SOURCE, "", 78, 45, 156, 14, kEditStyle | ES_READONLY },
            { PushButton, IDC_DECODE_SOURCE_BROWSE, "Browse", 243, 45, 35, 13, WS_TABSTOP },
            { Edit, IDC_DECODE_DEST, "", 78, 63, 156, 14, kEditStyle },
            { PushButton, IDC_DECODE_DEST_BROWSE, "Browse", 243, 63, 35, 13, WS_TABSTOP },
            { PushButton, IDC_DECODE, "Decode!", 296, 54, 40, 20, WS_TABSTOP },
            { Edit, IDC_ENCODE_SOURCE, "", 82, 120, 156, 14, kEditStyle | ES_READONLY },
            { PushButton, IDC_ENCODE_SOURCE_BROWSE, "Browse", 247, 120, 35, 13, WS_TABSTOP },
            { Edit, IDC_ENCODE_DEST, "", 82, 138, 156, 14, kEditStyle },
            { PushButton, IDC_ENCODE_DEST_BROWSE, "Browse", 247, 138, 35, 13, WS_TABSTOP },
            { PushButton, IDC_ENCODE, "Encode!", 296, 124, 40, 20, WS_TABSTOP },
            { Edit, IDC_STATUS, "", 60, 185, 240, 10, kEditStyle | ES_READONLY },
            { Static, IDC_STATIC,
              "Hufpack packs one file with static Huffman codes and restores it byte for byte.", 27,
              205, 310, 13, SS_LEFT | WS_GROUP },
            { Static, IDC_STATIC, "Written by the Hufpack developers. Free software, no warranty.",
              24, 217, 310, 13, SS_LEFT | WS_GROUP },
            { GroupBox, IDC_STATIC, "Decompress", 18, 30, 325, 70, BS_GROUPBOX },
            { GroupBox, IDC_STATIC, "Compress", 18, 105, 325, 70, BS_GROUPBOX },
            { Static, IDC_STATIC, "Source", 33, 45, 25, 15, SS_LEFT | WS_GROUP },
            { Static, IDC_STATIC, "Destination", 33, 65, 35, 15, SS_LEFT | WS_GROUP },
            { Static, IDC_STATIC, "Source", 33, 120, 25, 15, SS_LEFT | WS_GROUP },
            { Static, IDC_STATIC, "Destination", 33, 140, 35, 15, SS_LEFT | WS_GROUP },
        },
    };
}

DialogTemplate AboutBox()
{
    using enum ControlKind;
    return {
        IDD_ABOUTBOX,
        "About....",
        0,
        0,
        235,
        55,
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
        0,
        "MS Sans Serif",
        8,
        {
            { Icon, IDC_STATIC, "", 11, 17, 20, 20, SS_ICON, IDR_MAINFRAME },
            { Static, IDC_STATIC, "Hufpack Version 1.0", 40, 10, 132, 8,
              SS_LEFT | SS_NOPREFIX | WS_GROUP },
            { Static, IDC_STATIC,
              "Static Huffman file compressor. Copyright (C) 2026 the Hufpack developers.", 40, 25,
              156, 23, SS_LEFT | WS_GROUP },
            { PushButton, IDOK, "OK", 178, 7, 50, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP },
        },
    };
}

} // namespace

void AfxRegisterResources()
{
    RegisterDialogTemplate(MainDialog());
    RegisterDialogTemplate(AboutBox());
    RegisterString(IDS_ABOUTBOX, "&About....");
    RegisterIcon({ IDR_MAINFRAME, { kIcon32, kIcon16 } });
    RegisterVersion({ "1, 0, 0, 1", "1, 0, 0, 1", "Hufpack" });
}
