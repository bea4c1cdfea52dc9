#pragma once

#include <QRect>

class QWidget;

namespace kav {

// Places laid out in dialog units: one horizontal unit is a quarter of the
// font's average character width, one vertical unit an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QWidget& dialog);

    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int m_charWidth;
    int m_charHeight;
};

} // namespace kav
