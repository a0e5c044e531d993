#pragma once

// This layer's own, beyond the original framework: a group box as the original platform draws
// it, its caption on the frame's top line, which it breaks. Qt's styles (Fusion among them)
// put the caption above the frame, and the frame starts a line lower.

#include <QGroupBox>

class GroupBoxWidget : public QGroupBox
{
public:
    GroupBoxWidget(const QString& caption, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
