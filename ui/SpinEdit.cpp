#include "ui/SpinEdit.h"

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
    bool number = false;
    const qlonglong value = text.toLongLong(&number);
    // Not a whole number: the minimum.
    const qlonglong clamped =
        !number ? minimum() : std::clamp<qlonglong>(value, minimum(), maximum());
    text = QString::number(clamped);
}
