// A status line as a screen reader sees it: the role of a status bar, the text of the edit
// control behind it, and the notification that tells each new text.

#include "StatusLineAccessible.h"

#include "EditAccessible.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>

namespace {

constexpr const char* kStatusLine = "status line";
constexpr const char* kNotification = "status notification";

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

// What tells a reader a status line's new texts: a notification, in a window of the
// application's own, as a desktop's notifications are, which is never put on the screen and
// only shows to a reader. A notification inside the dialog would be read after all that holds it
// (the dialog's title and texts, then the status bar), each time.
class StatusNotification : public QWidget
{
public:
    explicit StatusNotification(QLineEdit* line) : QWidget(nullptr, Qt::Tool), m_line(line)
    {
        setAttribute(Qt::WA_DontShowOnScreen);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setProperty(kAccessibleKind, QString::fromLatin1(kNotification));
    }

    [[nodiscard]] QLineEdit* Line() const { return m_line; }
    // Showing again is what a reader presents: hidden first, so that it shows anew.
    void Announce()
    {
        hide();
        show();
    }

private:
    QPointer<QLineEdit> m_line;
};

// The notification is named by the status line's text and described by its detail, as they
// are when a reader asks.
class StatusNotificationAccessible : public QAccessibleWidget
{
public:
    explicit StatusNotificationAccessible(StatusNotification* notification)
        : QAccessibleWidget(notification, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        const QLineEdit* const line = static_cast<StatusNotification*>(widget())->Line();
        if (!line)
            return {};
        switch (kind) {
        case QAccessible::Name:
            return line->text();
        case QAccessible::Description:
            return line->accessibleDescription();
        default:
            return {};
        }
    }
};

QAccessibleInterface* StatusLineFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QLineEdit") && IsKind(object, kStatusLine))
        return new StatusLineAccessible(static_cast<QLineEdit*>(object));
    if (className == QLatin1String("QWidget") && IsKind(object, kNotification))
        return new StatusNotificationAccessible(static_cast<StatusNotification*>(object));
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
    // One announcement for what a handler leaves on the line: its text and the detail it set
    // after the text, not each step on the way. Nothing is announced before the window shows;
    // a reader reads a window's first status with the window.
    auto* const notification = new StatusNotification(edit);
    QObject::connect(edit, &QObject::destroyed, [notification] { delete notification; });
    auto* const pending = new QTimer(edit);
    pending->setSingleShot(true);
    pending->setInterval(0);
    QObject::connect(pending, &QTimer::timeout, edit, [edit, notification] {
        if (QAccessible::isActive() && edit->isVisible())
            notification->Announce();
    });
    // A detail belongs to the text it came with.
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit, pending] {
        edit->setToolTip(QString());
        edit->setAccessibleDescription(QString());
        if (edit->isVisible())
            pending->start();
    });
}
