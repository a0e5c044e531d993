#pragma once

// This layer's own, beyond the original framework: a read-only edit control that a screen
// reader meets as a status bar. Qt 6.4 has no live regions and no announcements; but a reader
// follows the text changes of a status bar wherever the focus is, and these a status line sends
// as every edit control does.

class QLineEdit;
class QString;

// Makes `edit` a status line called `name` for screen readers. Each new text takes away the
// tooltip and description that the previous one had.
void MakeStatusLine(QLineEdit* edit, const QString& name);
