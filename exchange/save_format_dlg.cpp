#include "exchange/save_format_dlg.h"

#include "exchange/cp1250.h"
#include "exchange/dialog_layout.h"
#include "res/strings.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

namespace kav {

namespace {

// Lets through only text whose every character is one byte of Windows-1250.
class Windows1250Validator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        for (const char32_t c : input.toUcs4()) {
            if (!ToWindows1250(c))
                return Invalid;
        }
        return Acceptable;
    }
};

QLabel* Heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

} // namespace

char SeparatorByte(const QString& text)
{
    if (text.isEmpty())
        return '\0';
    const auto byte = ToWindows1250(text.toUcs4().front());
    return static_cast<char>(byte.value_or('?'));
}

CSaveFormatDlg::CSaveFormatDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("saveFormatDlg"));
    DialogLayout layout(*this);

    // A frameless window still needs an edge.
    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(2);
    layout.Place(frame, 0, 0, 177, 198);

    // Template order, which is also the tab order of the focusable controls.
    auto* ok = new QPushButton(ui::kOk, this);
    ok->setObjectName(QStringLiteral("ok"));
    layout.Place(ok, 61, 177, 50, 14);
    ok->setDefault(true);
    auto* cancel = new QPushButton(ui::kCancel, this);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout.Place(cancel, 120, 177, 50, 14);

    auto makeRadio = [this, &layout](const QString& text, const char* name, QRect place) {
        auto* radio = new QRadioButton(text, this);
        radio->setObjectName(QLatin1String(name));
        layout.Place(radio, place.x(), place.y(), place.width(), place.height());
        radio->setFocusPolicy(Qt::NoFocus);
        return radio;
    };
    m_radioSpace = makeRadio(ui::kFormatSpace, "sepSpace", QRect(21, 38, 141, 10));
    m_radioComma = makeRadio(ui::kFormatComma, "sepComma", QRect(21, 54, 141, 10));
    m_radioUser = makeRadio(ui::kFormatUser, "sepUser", QRect(21, 68, 141, 10));

    auto* box = new QGroupBox(ui::kFormatUserBox, this);
    layout.Place(box, 21, 83, 83, 30);
    box->lower();
    frame->lower();

    auto makeEdit = [this, &layout](const char* name, QRect place, const QString& text) {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(QLatin1String(name));
        layout.Place(edit, place.x(), place.y(), place.width(), place.height());
        edit->setMaxLength(1);
        edit->setValidator(new Windows1250Validator(edit));
        edit->setAlignment(Qt::AlignCenter);
        edit->setTextMargins(0, 0, 0, 0);
        return edit;
    };
    auto* labelX = new QLabel(QStringLiteral("X"), this);
    layout.Place(labelX, 33, 99, 8, 8);
    m_editX = makeEdit("sepX", QRect(41, 95, 11, 12), QString());
    auto* labelY = new QLabel(QStringLiteral("Y"), this);
    layout.Place(labelY, 56, 99, 8, 8);
    m_editY = makeEdit("sepY", QRect(65, 95, 11, 12), QString());

    layout.Place(Heading(ui::kFormatHeading, this), 7, 7, 163, 16);
    layout.Place(Heading(ui::kOrderHeading, this), 7, 120, 163, 16);

    m_radioClicks = makeRadio(ui::kOrderClicks, "orderClicks", QRect(18, 144, 126, 10));
    m_radioReverse = makeRadio(ui::kOrderReverse, "orderReverse", QRect(18, 159, 137, 10));

    // Two exclusive groups: the separators and the order.
    auto* separators = new QButtonGroup(this);
    separators->addButton(m_radioSpace);
    separators->addButton(m_radioComma);
    separators->addButton(m_radioUser);
    auto* order = new QButtonGroup(this);
    order->addButton(m_radioClicks);
    order->addButton(m_radioReverse);

    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_editX);
    setTabOrder(m_editX, m_editY);
    layout.Apply(177, 198);

    // Dispatch table.
    connect(ok, &QPushButton::clicked, this, &CSaveFormatDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_radioUser, &QRadioButton::clicked, this, &CSaveFormatDlg::OnSepUser);

    OnInitDialog();
    ok->setFocus();
}

void CSaveFormatDlg::OnInitDialog()
{
    m_radioSpace->setChecked(true);
    m_radioClicks->setChecked(true);
    m_editX->setReadOnly(true);
    m_editY->setReadOnly(true);
}

void CSaveFormatDlg::OnSepUser()
{
    if (m_radioUser->isChecked()) {
        m_editX->setReadOnly(false);
        m_editY->setReadOnly(false);
    }
}

void CSaveFormatDlg::accept()
{
    if (m_radioSpace->isChecked()) {
        m_sepX = m_sepY = ' ';
    } else if (m_radioComma->isChecked()) {
        m_sepX = m_sepY = ',';
    } else if (m_radioUser->isChecked()) {
        m_sepX = SeparatorByte(m_editX->text());
        m_sepY = SeparatorByte(m_editY->text());
    }
    if (m_radioClicks->isChecked())
        m_order = SaveFormat::kClickOrder;
    else if (m_radioReverse->isChecked())
        m_order = SaveFormat::kReverseOrder;
    QDialog::accept();
}

} // namespace kav
