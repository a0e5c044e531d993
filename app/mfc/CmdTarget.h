#pragma once

// Message maps: each class that handles messages lists them, from (message, notification code,
// control identifier) to a handler, and a message that a class's map lacks goes on to its base
// class's map. The macros keep the framework's spelling:
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_BN_CLICKED(IDC_GO, OnGo)
//   END_MESSAGE_MAP()

#include "Afx.h"

class CCmdTarget;

struct AFX_MSGMAP_ENTRY
{
    UINT message;
    UINT code; // notification code, for WM_COMMAND
    UINT id; // control or command identifier, for WM_COMMAND
    LRESULT (*handler)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*base)();
    const AFX_MSGMAP_ENTRY* entries;
};

class CCmdTarget
{
public:
    virtual ~CCmdTarget() = default;

    // Finds the handler for a message in this class's map or a base class's; null if none.
    [[nodiscard]] const AFX_MSGMAP_ENTRY* FindHandler(UINT message, UINT code, UINT id) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    [[nodiscard]] virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
};

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    [[nodiscard]] const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const                                              \
    {                                                                                              \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                \
    {                                                                                              \
        using ThisClass [[maybe_unused]] = theClass;                                               \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    {                                                                                              \
        0, 0, 0, nullptr                                                                           \
    }                                                                                              \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP map = { &TheBaseClass::GetThisMessageMap, entries };                   \
    return &map;                                                                                   \
    }

#define AFX_HANDLER(call)                                                                          \
    [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {                              \
        [[maybe_unused]] auto* self = static_cast<ThisClass*>(target);                             \
        (void)wParam;                                                                              \
        (void)lParam;                                                                              \
        call;                                                                                      \
    }

#define ON_COMMAND(id, memberFxn)                                                                  \
    {                                                                                              \
        WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), AFX_HANDLER(self->memberFxn(); return 0)    \
    }                                                                                              \
    ,
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {                                                                                              \
        WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), AFX_HANDLER(self->memberFxn(); return 0)    \
    }                                                                                              \
    ,
#define ON_EN_UPDATE(id, memberFxn)                                                                \
    {                                                                                              \
        WM_COMMAND, EN_UPDATE, static_cast<UINT>(id), AFX_HANDLER(self->memberFxn(); return 0)     \
    }                                                                                              \
    ,
#define ON_WM_SYSCOMMAND()                                                                         \
    {                                                                                              \
        WM_SYSCOMMAND, 0, 0,                                                                       \
            AFX_HANDLER(self->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0)           \
    }                                                                                              \
    ,
#define ON_WM_PAINT()                                                                              \
    {                                                                                              \
        WM_PAINT, 0, 0, AFX_HANDLER(self->OnPaint(); return 0)                                     \
    }                                                                                              \
    ,
#define ON_WM_QUERYDRAGICON()                                                                      \
    { WM_QUERYDRAGICON, 0, 0,                                                                      \
      AFX_HANDLER(return reinterpret_cast<LRESULT>(self->OnQueryDragIcon())) },
#define ON_WM_DROPFILES()                                                                          \
    {                                                                                              \
        WM_DROPFILES, 0, 0,                                                                        \
            AFX_HANDLER(self->OnDropFiles(reinterpret_cast<HDROP>(wParam)); return 0)              \
    }                                                                                              \
    ,
