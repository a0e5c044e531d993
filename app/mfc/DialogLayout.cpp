// What a dialog template's layout tells of its controls: the group that holds each, the label
// that names a field, the field a button serves.

#include "DialogLayout.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

namespace {

int Right(const ControlTemplate& control)
{
    return control.x + control.cx;
}

int Bottom(const ControlTemplate& control)
{
    return control.y + control.cy;
}

bool Holds(const ControlTemplate& box, const ControlTemplate& control)
{
    return control.x >= box.x && control.y >= box.y && Right(control) <= Right(box)
        && Bottom(control) <= Bottom(box);
}

// A label a little lower than its field, or a button a little shorter, is still on its line; a
// button as tall as two lines is on neither.
bool OnOneLine(const ControlTemplate& first, const ControlTemplate& second)
{
    const int overlap = std::min(Bottom(first), Bottom(second)) - std::max(first.y, second.y);
    return 2 * overlap > std::min(first.cy, second.cy);
}

// The control just left of control `index` on its line, in its group; -1 when there is none.
int LeftNeighbour(const DialogTemplate& dialog, const std::vector<ControlLinks>& links,
                  std::size_t index)
{
    const ControlTemplate& control = dialog.controls[index];
    int neighbour = -1;
    for (std::size_t other = 0; other < dialog.controls.size(); ++other) {
        const ControlTemplate& candidate = dialog.controls[other];
        if (other == index || candidate.kind == ControlKind::GroupBox
            || links[other].group != links[index].group || Right(candidate) > control.x
            || !OnOneLine(candidate, control))
            continue;
        if (neighbour < 0 || Right(candidate) > Right(dialog.controls[neighbour]))
            neighbour = static_cast<int>(other);
    }
    return neighbour;
}

// The text as shown: "&&" is an ampersand, and any other '&' only marks the next letter.
std::string WithoutMnemonics(const std::string& text)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

} // namespace

std::vector<ControlLinks> LinkControls(const DialogTemplate& dialog)
{
    const std::vector<ControlTemplate>& controls = dialog.controls;
    std::vector<ControlLinks> links(controls.size());
    const auto area = [](const ControlTemplate& control) { return control.cx * control.cy; };
    for (std::size_t index = 0; index < controls.size(); ++index) {
        if (controls[index].kind == ControlKind::GroupBox)
            continue;
        for (std::size_t box = 0; box < controls.size(); ++box) {
            if (controls[box].kind != ControlKind::GroupBox
                || !Holds(controls[box], controls[index]))
                continue;
            int& group = links[index].group;
            if (group < 0 || area(controls[box]) < area(controls[group]))
                group = static_cast<int>(box);
        }
    }
    for (std::size_t index = 0; index < controls.size(); ++index) {
        const int neighbour = LeftNeighbour(dialog, links, index);
        if (neighbour < 0)
            continue;
        const ControlKind kind = controls[index].kind;
        const ControlKind neighbourKind = controls[neighbour].kind;
        if (kind == ControlKind::Edit && neighbourKind == ControlKind::Static
            && !controls[neighbour].text.empty())
            links[index].label = neighbour;
        else if (kind == ControlKind::PushButton && neighbourKind == ControlKind::Edit)
            links[index].field = neighbour;
    }
    return links;
}

std::string FieldName(const DialogTemplate& dialog, const std::vector<ControlLinks>& links,
                      int index)
{
    assert(index >= 0 && static_cast<std::size_t>(index) < links.size());
    const ControlLinks& link = links[index];
    if (link.label < 0)
        return {};
    std::string label = WithoutMnemonics(dialog.controls[link.label].text);
    if (link.group < 0)
        return label;
    const std::string group = WithoutMnemonics(dialog.controls[link.group].text);
    if (group.empty())
        return label;
    // "Source" in the group "Decompress" reads "Decompress source"; an initialism stays as it is.
    if (label.size() > 1 && label[0] >= 'A' && label[0] <= 'Z' && label[1] >= 'a'
        && label[1] <= 'z')
        label[0] = static_cast<char>(label[0] - 'A' + 'a');
    return group + " " + label;
}
