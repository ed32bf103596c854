// Numeric controls that take whole entries. The panel loader builds them for
// every spin box of the layout, so the forms keep Qt's standard class names.
#pragma once

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QString>
#include <QWheelEvent>
#include <cmath>
#include <type_traits>
#include <utility>

// Reads an operator's entry as a numeric control will hold it. Blanks around
// it, a leading sign and one decimal point are allowed; anything else (letters,
// an exponent, an empty field) is no number and gives false. The number is
// rounded half away from zero to `decimals` places on its decimal digits, not
// on a binary double, so 219.95 becomes 220.0; then it is held within
// [min, max].
bool ToolkitReadEntry(const QString& text, int decimals, double min, double max, double* value);

// Qt's own spin boxes refuse every keystroke that would pass a limit, so
// "350" arrives as "35"; here anything may be typed or pasted, and only a
// commit (Enter, leaving the field, an arrow) reads the text: a number is held
// within the limits, anything else gives the previous value back. The wheel
// moves only the control the operator is working in, the one with focus.
template <class SpinBox> class ToolkitEntry : public SpinBox {
public:
    using Value = std::remove_cvref_t<decltype(std::declval<SpinBox>().value())>;

    explicit ToolkitEntry(QWidget* parent = nullptr) : SpinBox(parent) {
        // Qt's default wheel focus would let a passing wheel take the control.
        this->setFocusPolicy(Qt::StrongFocus);
        this->setKeyboardTracking(false);
    }

protected:
    QValidator::State validate(QString& input, int&) const override {
        double v = 0.0;
        return Read(input, &v) ? QValidator::Acceptable : QValidator::Intermediate;
    }

    void fixup(QString& input) const override { input = textFromValue(valueFromText(input)); }

    Value valueFromText(const QString& text) const override {
        double v = this->value();
        Read(text, &v);
        if constexpr (std::is_floating_point_v<Value>) {
            return v;
        } else {
            return static_cast<Value>(std::llround(v));
        }
    }

    // Always "." decimals and a plain minus, whatever the system locale, so
    // what the control shows reads back as the same number.
    QString textFromValue(Value v) const override {
        if constexpr (std::is_floating_point_v<Value>) {
            return QString::number(v, 'f', this->decimals());
        } else {
            return QString::number(v);
        }
    }

    void wheelEvent(QWheelEvent* event) override {
        if (!this->hasFocus()) {
            event->ignore();
            return;
        }
        SpinBox::wheelEvent(event);
    }

private:
    bool Read(const QString& text, double* v) const {
        int decimals = 0;
        if constexpr (std::is_floating_point_v<Value>) {
            decimals = this->decimals();
        }
        return ToolkitReadEntry(text, decimals, this->minimum(), this->maximum(), v);
    }
};

using ToolkitDoubleEntry = ToolkitEntry<QDoubleSpinBox>;
using ToolkitIntEntry = ToolkitEntry<QSpinBox>;
