#include "platform/ToolkitEntry.h"

#include <algorithm>

bool ToolkitReadEntry(const QString& text, int decimals, double min, double max, double* value) {
    const QString t = text.trimmed();
    const bool negative = t.startsWith(u'-');
    qsizetype i = negative || t.startsWith(u'+') ? 1 : 0;
    QString whole;
    QString fraction;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c == u'.' && !point) {
            point = true;
        } else if (c >= u'0' && c <= u'9') { // ASCII only: isDigit() takes any script
            (point ? fraction : whole) += c;
        } else {
            return false;
        }
    }
    if (whole.isEmpty() && fraction.isEmpty()) {
        return false;
    }
    decimals = std::max(0, decimals);
    bool roundUp = false;
    if (fraction.size() > decimals) {
        roundUp = fraction[decimals] >= u'5';
        fraction.truncate(decimals);
    }
    // Work on the digits so that rounding sees the number as typed.
    QString digits = whole + fraction.leftJustified(decimals, u'0');
    for (qsizetype k = digits.size() - 1; roundUp; --k) {
        if (k < 0) {
            digits.prepend(u'1');
            break;
        }
        roundUp = digits[k] == u'9';
        digits[k] = roundUp ? u'0' : QChar(digits[k].unicode() + 1);
    }
    while (digits.size() > 1 && digits[0] == u'0') {
        digits.remove(0, 1);
    }
    double v = 0.0;
    // Far beyond any limit a control can have; toDouble() would give up on it.
    if (digits.size() - decimals > 300) {
        v = negative ? min : max;
    } else {
        digits = digits.rightJustified(decimals + 1, u'0');
        if (decimals > 0) {
            digits.insert(digits.size() - decimals, u'.');
        }
        v = digits.toDouble();
        v = negative ? -v : v;
    }
    *value = std::clamp(v, min, max) + 0.0; // + 0.0: never show "-0"
    return true;
}
