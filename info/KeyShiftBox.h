#pragma once

#include <QSpinBox>

/// A spin box for a key shift: a raise shows its sign ("+2"), as a module's panel does, so
/// that it reads as a shift and not as a key.
class KeyShiftBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override
    {
        return value > 0 ? QLatin1Char('+') + QString::number(value) : QString::number(value);
    }
};
