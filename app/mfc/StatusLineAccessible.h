#pragma once

// This layer's own, beyond the original framework: a read-only edit control that a screen
// reader meets as a status bar, and whose new texts it hears wherever the focus is.
//
// Qt 6.4 has no live regions and no announcements, and a reader does not speak the text changes
// of an object that has not the focus, a status bar's included (Orca 43 presents live regions in
// web documents only). What it does present on its own is a notification that shows: so each
// new text shows one, named by the text and described by its detail (the file and the reason
// of a failed job).

class QLineEdit;
class QString;

// Makes `edit` a status line called `name` for screen readers. Each new text takes away the
// tooltip and description that the previous one had; once the handler that set them is done,
// a reader is told the text, and the description that came with it.
void MakeStatusLine(QLineEdit* edit, const QString& name);
