#include "exchange/dialog_layout.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <cmath>

namespace kav {

DialogLayout::DialogLayout(QWidget& dialog)
    : m_dialog(dialog)
{
}

void DialogLayout::Place(QWidget* widget, int x, int y, int width, int height)
{
    m_items.append({widget, QRect(x, y, width, height)});
}

void DialogLayout::Apply(int width, int height)
{
    const QFontMetrics metrics(m_dialog.font());
    // The average over the 52 Latin letters, rounded, as dialog templates expect.
    const int letters
        = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    double unitX = ((letters / 26 + 1) / 2) / 4.0;
    const double unitY = metrics.height() / 8.0;
    for (const Item& item : m_items) {
        const QWidget* w = item.widget;
        if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w)
            || qobject_cast<const QGroupBox*>(w))
            unitX = std::max(unitX, w->minimumSizeHint().width() / static_cast<double>(item.units.width()));
    }

    auto px = [](int units, double unit) { return static_cast<int>(std::lround(units * unit)); };
    for (const Item& item : m_items) {
        const QRect& u = item.units;
        item.widget->setGeometry(px(u.x(), unitX), px(u.y(), unitY), px(u.width(), unitX), px(u.height(), unitY));
    }
    m_dialog.setFixedSize(px(width, unitX), px(height, unitY));
}

} // namespace kav
