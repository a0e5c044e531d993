#pragma once

// This layer's own, beyond the original framework: an edit control as a screen reader meets it.
// Qt's own interface for a line edit is private to Qt, and it says that the text attributes at
// an offset run from that offset to the same offset, an empty run; a reader that reads a line by
// its runs of attributes (Orca does) then loses the line's last character, and heard
// "/home/user/notes.tx" for notes.txt. This one tells of one run, the whole text.

#include <QAccessibleWidget>

class QLineEdit;

class EditAccessible : public QAccessibleWidget,
                       public QAccessibleTextInterface,
                       public QAccessibleEditableTextInterface
{
public:
    explicit EditAccessible(QLineEdit* edit, QAccessible::Role role = QAccessible::EditableText);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text kind, const QString& text) override;
    QAccessible::State state() const override;

    // The text, as a reader reads, reviews and selects it.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // What a reader may change, as typing does: nothing in a read-only control.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

protected:
    [[nodiscard]] QLineEdit* Edit() const;
};

// Makes `edit`, an edit control of a dialog, one that a reader meets through EditAccessible.
void MakeEditControl(QLineEdit* edit);

// The property of a control that says which of this layer's interfaces a reader meets it
// through, for the factory of that interface.
inline constexpr const char* kAccessibleKind = "hufpackAccessible";
