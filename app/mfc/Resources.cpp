// The table of registered resources and the lookups by identifier.

#include "Resources.h"

#include <map>
#include <memory>

namespace {

struct Table
{
    std::map<UINT, DialogTemplate> dialogs;
    std::map<UINT, std::string> strings;
    std::map<UINT, std::unique_ptr<IconResource>> icons;
    VersionResource version;
};

Table& Resources()
{
    static Table table;
    return table;
}

} // namespace

void RegisterDialogTemplate(DialogTemplate dialog)
{
    const UINT id = dialog.id;
    Resources().dialogs.insert_or_assign(id, std::move(dialog));
}

void RegisterString(UINT id, std::string text)
{
    Resources().strings.insert_or_assign(id, std::move(text));
}

void RegisterIcon(IconResource icon)
{
    const UINT id = icon.id;
    Resources().icons.insert_or_assign(id, std::make_unique<IconResource>(std::move(icon)));
}

void RegisterVersion(VersionResource version)
{
    Resources().version = std::move(version);
}

const DialogTemplate* FindDialogTemplate(UINT id)
{
    const auto found = Resources().dialogs.find(id);
    return found == Resources().dialogs.end() ? nullptr : &found->second;
}

const std::string* FindString(UINT id)
{
    const auto found = Resources().strings.find(id);
    return found == Resources().strings.end() ? nullptr : &found->second;
}

HICON FindIcon(UINT id)
{
    const auto found = Resources().icons.find(id);
    return found == Resources().icons.end() ? nullptr : found->second.get();
}

const VersionResource& Version()
{
    return Resources().version;
}

BOOL CString::LoadString(UINT id)
{
    const std::string* text = FindString(id);
    assign(text ? *text : std::string());
    return text ? TRUE : FALSE;
}
