#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace kav {

// Shows the coordinate listing in an editable, wrapping text field; nothing
// reads the field back.
class CCoordListDlg : public QDialog {
    Q_OBJECT

public:
    explicit CCoordListDlg(QWidget* parent = nullptr);

    void SetText(QString text);
    QPlainTextEdit* TextField() const { return m_field; }

    QString m_text;

private:
    QPlainTextEdit* m_field;
};

} // namespace kav
