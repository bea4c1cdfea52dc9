#include "exchange/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

namespace kav {

DialogUnits::DialogUnits(const QWidget& dialog)
{
    const QFontMetrics metrics(dialog.font());
    // The average over the 52 Latin letters, rounded, as the dialog templates expect.
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_charWidth = (letters / 26 + 1) / 2;
    m_charHeight = metrics.height();
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    return {x * m_charWidth / 4, y * m_charHeight / 8, width * m_charWidth / 4, height * m_charHeight / 8};
}

QSize DialogUnits::Size(int width, int height) const
{
    return {width * m_charWidth / 4, height * m_charHeight / 8};
}

} // namespace kav
