// A status line as a screen reader sees it: the role of a status bar, and the text of the edit
// control behind it.

#include "StatusLineAccessible.h"

#include "EditAccessible.h"

#include <QLineEdit>

namespace {

constexpr const char* kStatusLine = "status line";

bool IsKind(const QObject* object, const char* kind)
{
    return object && object->property(kAccessibleKind).toString() == QLatin1String(kind);
}

class StatusLineAccessible : public EditAccessible
{
public:
    explicit StatusLineAccessible(QLineEdit* edit)
        : EditAccessible(edit, QAccessible::StatusBar) { }
};

QAccessibleInterface* StatusLineFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QLineEdit") && IsKind(object, kStatusLine))
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
    if (IsKind(edit, kStatusLine))
        return;
    edit->setProperty(kAccessibleKind, QString::fromLatin1(kStatusLine));
    // An interface made before now was a plain edit control's: the next one asked for is ours.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(edit);
        made && !dynamic_cast<StatusLineAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    // A detail belongs to the text it came with.
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] {
        edit->setToolTip(QString());
        edit->setAccessibleDescription(QString());
    });
}
