#pragma once

// The program's resources as data: dialog templates in dialog units, the string table, icons.
// The program registers them at start-up; the framework looks them up by identifier.

#include "Afx.h"

#include <string>
#include <vector>

enum class ControlKind { PushButton, Edit, Static, GroupBox, Icon };

struct ControlTemplate
{
    ControlKind kind;
    int id; // -1 for controls the program never addresses
    std::string text;
    int x, y, cx, cy;
    DWORD style;
    UINT iconId = 0; // for ControlKind::Icon
};

struct DialogTemplate
{
    UINT id;
    std::string caption;
    int x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
    std::string fontName;
    int fontPoints;
    // In template order, which is also the tab order.
    std::vector<ControlTemplate> controls;
};

// An icon: its images, each an XPM picture (16 colours here), largest first.
struct IconResource
{
    UINT id;
    std::vector<const char* const*> images;
};

struct VersionResource
{
    std::string fileVersion;
    std::string productVersion;
    std::string description;
};

void RegisterDialogTemplate(DialogTemplate dialog);
void RegisterString(UINT id, std::string text);
void RegisterIcon(IconResource icon);
void RegisterVersion(VersionResource version);

[[nodiscard]] const DialogTemplate* FindDialogTemplate(UINT id);
[[nodiscard]] const std::string* FindString(UINT id);
[[nodiscard]] HICON FindIcon(UINT id);
[[nodiscard]] const VersionResource& Version();
