// A spin box whose typed number may leave its range while it is being typed; it is brought to
// the nearest bound when the box loses the focus, so that a value typed too large ends up as
// the largest value allowed rather than as what was left after a refused keystroke.
#pragma once

#include <QSpinBox>

class TZoSpinEdit : public QSpinBox {
public:
    explicit TZoSpinEdit(QWidget* parent = nullptr) : QSpinBox(parent) {}

protected:
    QValidator::State validate(QString& text, int& position) const override;
    void fixup(QString& text) const override;
};
