#pragma once

#include <QList>
#include <QRect>

class QWidget;

namespace kav {

// Lays out a dialog given in dialog units: one horizontal unit is a quarter
// of the font's average character width, one vertical unit an eighth of its
// height. Where a control's text would not fit its place in this font, the
// horizontal unit grows until every text fits, so that the proportions stay.
class DialogLayout {
public:
    explicit DialogLayout(QWidget& dialog);

    // Places `widget` at x, y with the given size, all in dialog units.
    // Buttons, labels and group boxes are widened to fit their text.
    void Place(QWidget* widget, int x, int y, int width, int height);
    // Sets every place and the dialog's fixed size.
    void Apply(int width, int height);

private:
    struct Item {
        QWidget* widget;
        QRect units;
    };
    QWidget& m_dialog;
    QList<Item> m_items;
};

} // namespace kav
