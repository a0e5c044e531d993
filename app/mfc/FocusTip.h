#pragma once

// This layer's own, beyond the original framework: a control's tooltip, shown beside it while it
// has the keyboard focus, as the mouse shows it while it rests on the control. A user without a
// mouse reads what one with a mouse reads (a failed job's file and reason, on the status line).

class QWidget;

// Shows the tooltip of `control`, whenever it has one, while `control` has the keyboard focus.
void ShowTooltipWithFocus(QWidget* control);
