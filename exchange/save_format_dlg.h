#pragma once

#include "exchange/coordinate_format.h"

#include <QDialog>

class QLineEdit;
class QRadioButton;

namespace kav {

// Asks how a save separates the numbers and in which order it writes the
// points. After OK, m_sepX, m_sepY and m_order hold the choice.
class CSaveFormatDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSaveFormatDlg(QWidget* parent = nullptr);

    SaveFormat Format() const { return {m_sepX, m_sepY, m_order}; }

    // Confirms: reads the choice from the controls, then closes with OK.
    void accept() override;

    char m_sepX = ' ';
    char m_sepY = ' ';
    QLineEdit* m_editY;
    QLineEdit* m_editX;
    QRadioButton* m_radioSpace;
    QRadioButton* m_radioComma;
    QRadioButton* m_radioUser;
    QRadioButton* m_radioClicks;
    QRadioButton* m_radioReverse;
    std::int32_t m_order = SaveFormat::kClickOrder;

private:
    void OnInitDialog();
    void OnSepUser();
};

// The one Windows-1250 byte of a separator field's text; 0 when it is empty.
char SeparatorByte(const QString& text);

} // namespace kav
