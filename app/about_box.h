#pragma once

#include <QDialog>

namespace kav {

// "About kav": the icon, the author and the version, and an OK button.
class CAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBox(QWidget* parent = nullptr);
};

} // namespace kav
