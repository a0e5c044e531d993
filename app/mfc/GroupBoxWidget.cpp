// A group box drawn as the original platform draws one: the frame, its top line through the
// middle of the caption's line, and the caption a character in from the frame's left side, with
// the line broken behind it.

#include "GroupBoxWidget.h"

#include <QPainter>
#include <QStyleOption>
#include <qdrawutil.h>

GroupBoxWidget::GroupBoxWidget(const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
}

void GroupBoxWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    // The platform's own numbers: the line half a text height down, less one, and the caption
    // in by a character, with a little room each side where the line is broken.
    const int lineY = metrics.height() / 2 - 1;
    const int margin = 2;
    const QString caption = title();
    const QRect captionRect(metrics.averageCharWidth(), 0,
                            metrics.size(Qt::TextShowMnemonic, caption).width(), metrics.height());

    // An etched frame, as the platform's: the style's own frame would move down by a line
    // again (Fusion's leaves room for a caption above it).
    painter.save();
    if (!caption.isEmpty())
        painter.setClipRegion(QRegion(rect()) - captionRect.adjusted(-margin, 0, margin, 0));
    qDrawShadeRect(&painter, rect().adjusted(0, lineY, 0, 0), palette(), true, 1, 0);
    painter.restore();

    if (caption.isEmpty())
        return;
    QStyleOption option;
    option.initFrom(this);
    int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this))
        flags |= Qt::TextHideMnemonic;
    style()->drawItemText(&painter, captionRect.adjusted(0, 0, margin, 0), flags, palette(),
                          isEnabled(), caption, QPalette::WindowText);
}
