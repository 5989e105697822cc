// A spin box whose typed number may leave its range while it is being typed; it is brought to
// the nearest bound when the box loses the focus, so that a value typed too large ends up as
// the largest value allowed rather than as what was left after a refused keystroke. Every change
// of its text is reported, so that a number typed out of range reaches the settings row as typed.
// The rules are the ones every window's spin boxes follow (SpinTextValue, SpinValue).
#pragma once

#include "app/WindowControls.h"

#include <QSpinBox>

class TZoSpinEdit : public QSpinBox, public INumberControl {
public:
    // Reports every change of its text (OnChange), typed (also while it stands outside the
    // range) or set.
    explicit TZoSpinEdit(QWidget* parent = nullptr);

    std::string Text() const override;
    int32_t Value() const override { return value(); }
    void SetValue(int32_t value) override { setValue(value); }

protected:
    QValidator::State validate(QString& text, int& position) const override;
    void fixup(QString& text) const override;
};
