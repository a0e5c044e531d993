// An edit control as a screen reader meets it: its text, caret, selection and text attributes,
// and the text a reader may change.

#include "EditAccessible.h"

#include <QFontMetrics>
#include <QLineEdit>

namespace {

constexpr const char* kEditControl = "edit control";

QAccessibleInterface* EditControlFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QLineEdit") && object
        && object->property(kAccessibleKind).toString() == QLatin1String(kEditControl))
        return new EditAccessible(static_cast<QLineEdit*>(object));
    return nullptr;
}

} // namespace

EditAccessible::EditAccessible(QLineEdit* edit, QAccessible::Role role)
    : QAccessibleWidget(edit, role)
{
}

QLineEdit* EditAccessible::Edit() const
{
    return static_cast<QLineEdit*>(widget());
}

void* EditAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    // A read-only control's text changes only as the program changes it, for a reader too.
    if (type == QAccessible::EditableTextInterface && !Edit()->isReadOnly())
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString EditAccessible::text(QAccessible::Text kind) const
{
    return kind == QAccessible::Value ? Edit()->text() : QAccessibleWidget::text(kind);
}

void EditAccessible::setText(QAccessible::Text kind, const QString& text)
{
    if (kind != QAccessible::Value)
        QAccessibleWidget::setText(kind, text);
    else if (!Edit()->isReadOnly())
        Edit()->setText(text);
}

QAccessible::State EditAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = Edit()->isReadOnly();
    state.editable = !state.readOnly;
    state.selectableText = true;
    return state;
}

void EditAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && Edit()->hasSelectedText()) {
        *startOffset = Edit()->selectionStart();
        *endOffset = Edit()->selectionEnd();
    }
}

int EditAccessible::selectionCount() const
{
    return Edit()->hasSelectedText() ? 1 : 0;
}

void EditAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void EditAccessible::removeSelection(int)
{
    Edit()->deselect();
}

void EditAccessible::setSelection(int, int startOffset, int endOffset)
{
    Edit()->setSelection(startOffset, endOffset - startOffset);
}

int EditAccessible::cursorPosition() const
{
    return Edit()->cursorPosition();
}

void EditAccessible::setCursorPosition(int position)
{
    Edit()->setCursorPosition(position);
}

QString EditAccessible::text(int startOffset, int endOffset) const
{
    return Edit()->text().mid(startOffset, endOffset - startOffset);
}

int EditAccessible::characterCount() const
{
    return static_cast<int>(Edit()->text().size());
}

// Where a character stands on the screen, for a magnifier or a reader's review. QLineEdit keeps
// its layout to itself but tells where its caret is: this measures from there.
QRect EditAccessible::characterRect(int offset) const
{
    const QLineEdit* const edit = Edit();
    const QString text = edit->text();
    const QFontMetrics metrics(edit->font());
    const QRect caret = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const int start = caret.left() - metrics.horizontalAdvance(text.left(edit->cursorPosition()));
    const QRect rect(start + metrics.horizontalAdvance(text.left(offset)), caret.top(),
                     metrics.horizontalAdvance(text.mid(offset, 1)), caret.height());
    return QRect(edit->mapToGlobal(rect.topLeft()), rect.size());
}

int EditAccessible::offsetAtPoint(const QPoint& point) const
{
    return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
}

void EditAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Edit()->setCursorPosition(endIndex);
    Edit()->setCursorPosition(startIndex);
}

// One font and one colour for the whole text: one run, which holds every offset in it.
QString EditAccessible::attributes(int, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

void EditAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, QString());
}

void EditAccessible::insertText(int offset, const QString& text)
{
    replaceText(offset, offset, text);
}

void EditAccessible::replaceText(int startOffset, int endOffset, const QString& text)
{
    if (!Edit()->isReadOnly())
        Edit()->setText(Edit()->text().replace(startOffset, endOffset - startOffset, text));
}

void MakeEditControl(QLineEdit* edit)
{
    static const bool installed = [] {
        QAccessible::installFactory(EditControlFactory);
        return true;
    }();
    (void)installed;
    edit->setProperty(kAccessibleKind, QString::fromLatin1(kEditControl));
    // An interface made before now was Qt's own: the next one asked for is this one.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(edit);
        made && !dynamic_cast<EditAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
