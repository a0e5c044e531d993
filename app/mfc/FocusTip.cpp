// A control's tooltip while it has the keyboard focus: a window of the tooltip's kind beneath
// the control, which follows the focus and the tooltip's text.

#include "FocusTip.h"

#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QToolTip>
#include <algorithm>

namespace {

class FocusTip : public QObject
{
public:
    explicit FocusTip(QWidget* control) : QObject(control), m_control(control)
    {
        control->installEventFilter(this);
        // The window's moves move the control on the screen.
        control->window()->installEventFilter(this);
    }
    ~FocusTip() override { delete m_tip; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_control) {
            if (event->type() == QEvent::Move && m_tip && m_tip->isVisible())
                Place();
            return false;
        }
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::ToolTipChange:
            Update();
            break;
        case QEvent::FocusOut:
        case QEvent::Hide:
            Hide();
            break;
        case QEvent::Resize:
            if (m_tip && m_tip->isVisible())
                Place();
            break;
        case QEvent::ToolTip:
            // The mouse's tooltip would say the same again, over the text.
            return m_tip && m_tip->isVisible();
        default:
            break;
        }
        return false;
    }

private:
    void Update()
    {
        const QString text = m_control->toolTip();
        if (text.isEmpty() || !m_control->hasFocus()) {
            Hide();
            return;
        }
        if (!m_tip) {
            // A window of the tooltip's kind looks like one and takes neither focus nor input;
            // the one QToolTip shows would go with the key release of the Tab that brought the
            // focus.
            m_tip = new QLabel(nullptr, Qt::ToolTip | Qt::BypassGraphicsProxyWidget);
            m_tip->setTextFormat(Qt::PlainText);
            m_tip->setForegroundRole(QPalette::ToolTipText);
            m_tip->setBackgroundRole(QPalette::ToolTipBase);
            m_tip->setPalette(QToolTip::palette());
            m_tip->setFont(QToolTip::font());
            m_tip->setAutoFillBackground(true);
            m_tip->setFrameStyle(QFrame::Box | QFrame::Plain);
            m_tip->setMargin(2);
        }
        m_tip->setText(text);
        m_tip->adjustSize();
        Place();
        m_tip->show();
    }

    // Beneath the control, or above it where the screen ends, and never over its text.
    void Place()
    {
        const QRect control(m_control->mapToGlobal(QPoint(0, 0)), m_control->size());
        QPoint at(control.left(), control.bottom() + 1);
        if (const QScreen* screen = m_control->screen()) {
            const QRect room = screen->availableGeometry();
            if (at.y() + m_tip->height() > room.bottom() + 1)
                at.setY(control.top() - m_tip->height());
            at.setX(std::clamp(at.x(), room.left(),
                               std::max(room.left(), room.right() + 1 - m_tip->width())));
        }
        m_tip->move(at);
    }

    void Hide()
    {
        if (m_tip)
            m_tip->hide();
    }

    QWidget* m_control;
    QPointer<QLabel> m_tip;
};

} // namespace

void ShowTooltipWithFocus(QWidget* control)
{
    new FocusTip(control);
}
