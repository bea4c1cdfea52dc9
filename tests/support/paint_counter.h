#pragma once

#include <QEvent>
#include <QObject>

// Counts the paint events of the widget it is installed on.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};
