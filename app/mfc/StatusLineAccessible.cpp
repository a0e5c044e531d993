// A status line as a screen reader sees it: the role of a status bar, and the text of the edit
// control behind it.

#include "StatusLineAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>

namespace {

constexpr const char* kStatusLine = "hufpackStatusLine";

// Qt's own interface for a line edit is private to Qt, and its role fixed: this one gives the
// role of a status bar, and the text as Qt's gives it.
class StatusLineAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit StatusLineAccessible(QLineEdit* edit) : QAccessibleWidget(edit, QAccessible::StatusBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? Edit()->text() : QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = Edit()->isReadOnly();
        state.selectableText = true;
        return state;
    }

    // The text, as a reader reads and selects it.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && Edit()->hasSelectedText()) {
            *startOffset = Edit()->selectionStart();
            *endOffset = *startOffset + static_cast<int>(Edit()->selectedText().size());
        }
    }
    int selectionCount() const override { return Edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int) override { Edit()->deselect(); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        Edit()->setSelection(startOffset, endOffset - startOffset);
    }
    int cursorPosition() const override { return Edit()->cursorPosition(); }
    void setCursorPosition(int position) override { Edit()->setCursorPosition(position); }
    QString text(int startOffset, int endOffset) const override
    {
        return Edit()->text().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(Edit()->text().size()); }
    // Where a character stands on the screen, for a magnifier or a reader's review. QLineEdit
    // keeps its layout to itself but tells where its caret is: this measures from there.
    QRect characterRect(int offset) const override
    {
        const QLineEdit* const edit = Edit();
        const QString text = edit->text();
        const QFontMetrics metrics(edit->font());
        const QRect caret = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int start
            = caret.left() - metrics.horizontalAdvance(text.left(edit->cursorPosition()));
        const QRect rect(start + metrics.horizontalAdvance(text.left(offset)), caret.top(),
                         metrics.horizontalAdvance(text.mid(offset, 1)), caret.height());
        return QRect(edit->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        Edit()->setCursorPosition(endIndex);
        Edit()->setCursorPosition(startIndex);
    }
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    QLineEdit* Edit() const { return static_cast<QLineEdit*>(widget()); }
};

QAccessibleInterface* StatusLineFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QLineEdit") && object && object->property(kStatusLine).toBool())
        return new StatusLineAccessible(static_cast<QLineEdit*>(object));
    return nullptr;
}

} // namespace

void MakeStatusLine(QLineEdit* edit, const QString& name)
{
    static const bool installed = [] {
        QAccessible::installFactory(StatusLineFactory);
        return true;
    }();
    (void)installed;
    edit->setAccessibleName(name);
    if (edit->property(kStatusLine).toBool())
        return;
    edit->setProperty(kStatusLine, true);
    // An interface made before now was the plain edit's: the next one asked for is ours.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(edit);
        made && !dynamic_cast<StatusLineAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    // A detail belongs to the text it came with.
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] {
        edit->setToolTip(QString());
        edit->setAccessibleDescription(QString());
    });
}
