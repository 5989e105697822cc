#include "ui/SpinEdit.h"

#include "app/DecodeSettingsTab.h"
#include "qtcore/QtText.h"

#include <QLineEdit>

TZoSpinEdit::TZoSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    // The box reports the text it shows, typed or set, but is silent while a typed text is out
    // of range; its edit reports typed texts only. Together they see every change (a typed
    // text in range twice, which does no harm).
    const auto changed = [this] {
        if (OnChange)
            OnChange();
    };
    connect(this, &QSpinBox::textChanged, this, changed);
    connect(lineEdit(), &QLineEdit::textChanged, this, changed);
}

std::string TZoSpinEdit::Text() const
{
    return FromQString(text());
}

QValidator::State TZoSpinEdit::validate(QString& text, int& position) const
{
    Q_UNUSED(position);
    if (text.isEmpty() || text == QStringLiteral("-") || text == QStringLiteral("+"))
        return QValidator::Intermediate;
    // Digits, signs and the decimal separator may be typed; anything but a whole number in
    // range waits for the box to be left.
    for (const QChar c : text)
        if (!c.isDigit() && c != '+' && c != '-' && c != locale().decimalPoint().front())
            return QValidator::Invalid;
    bool number = false;
    const qlonglong value = text.toLongLong(&number);
    if (!number)
        return QValidator::Intermediate;
    return value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                    : QValidator::Intermediate;
}

void TZoSpinEdit::fixup(QString& text) const
{
    const settings::NumberRange range{minimum(), maximum(), singleStep(), minimum()};
    text = QString::number(SpinValue(FromQString(text), range));
}
