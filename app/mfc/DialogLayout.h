#pragma once

// This layer's own, beyond the original framework: what the layout of a dialog template tells a
// screen reader of its controls. The original platform's readers take a field's name from the
// static text just before it in the template's order; templates that list their labels and group
// boxes last, as the main dialog's does, leave the controls' places to tell instead.

#include "Resources.h"

#include <string>
#include <vector>

// For one control of a template, the controls it belongs with, by their index in the template;
// -1 for none.
struct ControlLinks
{
    // The group box whose frame holds the control (the smallest one, where several do).
    int group = -1;
    // For an edit control: the static text just left of it on its line, in its group.
    int label = -1;
    // For a push button: the edit control just left of it on its line, in its group, which the
    // button serves (as a Browse button fills its field).
    int field = -1;
};

// The links of every control of `dialog`, in template order. "Just left of it on its line": of
// the controls whose heights overlap its own by more than half the shorter one's and that end
// left of it, the one that ends last, whatever its kind.
[[nodiscard]] std::vector<ControlLinks> LinkControls(const DialogTemplate& dialog);

// What a reader calls the edit control `index`: its label's text after its group's title
// ("Decompress source"), mnemonics taken out; empty when it has no label.
[[nodiscard]] std::string FieldName(const DialogTemplate& dialog,
                                    const std::vector<ControlLinks>& links, int index);
