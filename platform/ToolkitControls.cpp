// Control values and control attributes.
#include "platform/Toolkit.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ChartWidgets.h"
#include "platform/ToolkitInternal.h"
#include "platform/ToolkitTable.h"
#include "platform/ToolkitWidgets.h"

using namespace toolkit;

namespace {

std::vector<int> RingValues(QComboBox* box) {
    std::vector<int> values;
    const QString spec = box->property("ringValues").toString();
    if (!spec.isEmpty()) {
        for (const QString& part : spec.split(',')) {
            values.push_back(part.trimmed().toInt());
        }
    }
    while (static_cast<int>(values.size()) < box->count()) {
        values.push_back(static_cast<int>(values.size()));
    }
    return values;
}

// One timer per lamp: a flash during a flash lasts from the newer one on.
void FlashLamp(Vx52Lamp* lamp, int ms) {
    auto* timer = lamp->findChild<QTimer*>(QStringLiteral("vx52Flash"));
    if (!timer) {
        timer = new QTimer(lamp);
        timer->setObjectName(QStringLiteral("vx52Flash"));
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, lamp, [lamp]() { lamp->setValue(false); });
    }
    lamp->setValue(true);
    timer->start(std::max(1, ms));
}

// Text typed into a numeric control but not committed is dropped when the
// control is dimmed or hidden: Qt would commit it as the focus leaves, and
// send a value the operator never confirmed.
void DropPendingEntry(QWidget* w) {
    QSignalBlocker block(w);
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        d->setValue(d->value());
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(s->value());
    }
}

// Where a line may end: after a space (which then goes) and after ideographic
// punctuation, and before an opening ideographic bracket. Paths and words
// never break; a piece wider than the line is cut with "…" at its start,
// where a path is least telling.
QString WrappedAtSpaces(const QString& text, const QFontMetrics& fm, int width, int maxLines) {
    QStringList pieces; // each ends where a line may end; spaces kept at their ends
    QString piece;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) {
            pieces << piece << QStringLiteral("\n");
            piece.clear();
            continue;
        }
        if (c == QChar(0xFF08) && !piece.isEmpty()) { // （
            pieces << piece;
            piece.clear();
        }
        piece += c;
        const bool after = c == QLatin1Char(' ') || c == QChar(0xFF0C) || c == QChar(0xFF1A) ||
                           c == QChar(0xFF1B) || c == QChar(0x3002) || c == QChar(0x3001);
        if (after) {
            pieces << piece;
            piece.clear();
        }
    }
    if (!piece.isEmpty()) {
        pieces << piece;
    }
    QStringList lines;
    QString line;
    for (const QString& p : pieces) {
        if (p == QStringLiteral("\n")) {
            lines << line;
            line.clear();
            continue;
        }
        const QString candidate = line + p;
        if (line.isEmpty() || fm.horizontalAdvance(candidate.trimmed()) <= width) {
            line = candidate;
            continue;
        }
        lines << line;
        line = p;
    }
    lines << line;
    for (QString& l : lines) {
        l = l.trimmed();
        if (fm.horizontalAdvance(l) > width) {
            l = fm.elidedText(l, Qt::ElideLeft, width);
        }
    }
    // What the label cannot hold ends its last line in "…".
    if (maxLines > 0 && lines.size() > maxLines) {
        lines = lines.mid(0, maxLines);
        lines.last() =
            fm.elidedText(lines.last() + QStringLiteral(" \u2026"), Qt::ElideRight, width);
    }
    return lines.join(QLatin1Char('\n'));
}

// A label that wraps at spaces only (its property "wrapAtSpaces", from the
// form or ATTR_WRAP_AT_SPACES) keeps the text it was given, and shows it
// broken into lines that fit its width.
constexpr const char* kWrapAtSpaces = "wrapAtSpaces";
constexpr const char* kWrapText = "vx52WrapText";

void SetLabelText(QLabel* label, const QString& text) {
    if (!label->property(kWrapAtSpaces).toBool()) {
        label->setText(text);
        return;
    }
    label->setProperty(kWrapText, text);
    // A little room to spare, so the label's own wrapping never breaks a line again.
    const int width = label->contentsRect().width() - 2 * label->margin() - 4;
    const int lines =
        label->contentsRect().height() / std::max(1, label->fontMetrics().lineSpacing());
    label->setText(WrappedAtSpaces(text, label->fontMetrics(), std::max(1, width), lines));
}

QString LabelText(const QLabel* label) {
    const QVariant wrapped = label->property(kWrapText);
    return label->property(kWrapAtSpaces).toBool() && wrapped.isValid() ? wrapped.toString()
                                                                        : label->text();
}

} // namespace

// ---- control values -------------------------------------------------------------

int SetCtrlVal(int panel, int control, double value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    // Values set by the program never count as operator changes.
    QSignalBlocker block(w);
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        d->setValue(value);
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(static_cast<int>(value < 0 ? value - 0.5 : value + 0.5));
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        m->setValue(value);
    } else if (auto* l = qobject_cast<Vx52Lamp*>(w)) {
        l->setValue(value != 0.0);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const auto values = RingValues(c);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i] == static_cast<int>(value)) {
                c->setCurrentIndex(static_cast<int>(i));
            }
        }
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
        b->setChecked(value != 0.0);
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(QString::number(value));
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        bar->setValue(static_cast<int>(value < 0 ? value - 0.5 : value + 0.5));
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(QString::number(value));
        return 0;
    }
    return SetCtrlVal(panel, control, static_cast<double>(value));
}

int SetCtrlVal(int panel, int control, const char* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    QSignalBlocker block(w);
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        SetLabelText(lab, ToQ(value));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(ToQ(value));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(ToQ(value));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const int index = combo->findData(ToQ(value));
        if (index < 0) {
            return UIE_BAD_ATTRIBUTE;
        }
        combo->setCurrentIndex(index);
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlVal(int panel, int control, double* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        *value = d->value();
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        *value = s->value();
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        *value = m->value();
    } else if (auto* l = qobject_cast<Vx52Lamp*>(w)) {
        *value = l->value() ? 1.0 : 0.0;
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const auto values = RingValues(c);
        const int i = c->currentIndex();
        *value = (i >= 0 && i < static_cast<int>(values.size())) ? values[i] : 0;
    } else if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable()) {
        *value = b->isChecked() ? 1.0 : 0.0;
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        *value = bar->value();
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        // A number shown as text reads back as that number.
        bool ok = false;
        const double number = LabelText(lab).trimmed().toDouble(&ok);
        if (!ok) {
            return UIE_BAD_ATTRIBUTE;
        }
        *value = number;
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlVal(int panel, int control, int* value) {
    double d = 0.0;
    const int rc = GetCtrlVal(panel, control, &d);
    if (rc == 0 && value) {
        *value = static_cast<int>(d < 0 ? d - 0.5 : d + 0.5);
    }
    return rc;
}

int GetCtrlVal(int panel, int control, std::string* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (auto* lab = qobject_cast<QLabel*>(w)) {
        *value = LabelText(lab).toStdString();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        *value = edit->text().toStdString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        *value = button->text().toStdString();
    } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
        *value = m->displayText().toStdString();
    } else if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        *value = d->text().toStdString();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const QVariant data = combo->currentData();
        *value = (data.isValid() ? data.toString() : combo->currentText()).toStdString();
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

// ---- control attributes ---------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        if (value != 0) {
            DropPendingEntry(w);
        }
        w->setEnabled(value == 0);
        if (rec->label) {
            rec->label->setEnabled(value == 0);
        }
        // A dimmed entry field must not keep a bright selection from its last edit.
        if (value != 0 && qobject_cast<QAbstractSpinBox*>(w)) {
            if (auto* edit = w->findChild<QLineEdit*>()) {
                edit->deselect();
            }
        }
        return 0;
    case ATTR_VISIBLE:
        if (value == 0) {
            DropPendingEntry(w);
        }
        w->setVisible(value != 0);
        if (rec->label) {
            rec->label->setVisible(value != 0);
        }
        return 0;
    case ATTR_WIDTH:
        w->resize(std::max(0, value), w->height());
        return 0;
    case ATTR_PRECISION: {
        QSignalBlocker block(w);
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setDecimals(value);
        } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
            m->setPrecision(value);
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    }
    case ATTR_POINTS_PER_SCREEN:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            chart->setPointsPerScreen(value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_CHART_PAUSED:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            chart->setPaused(value != 0);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_FLASH:
        if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
            FlashLamp(lamp, value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_MAX_ROWS:
        if (auto* table = qobject_cast<Vx52TextTable*>(w)) {
            table->setMaxRows(value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_TEXT_COLOR:
        // The widget's own sheet wins over the form's rule for it.
        w->setStyleSheet(
            value < 0
                ? QString()
                : QStringLiteral("color: #%1;").arg(value & 0xFFFFFF, 6, 16, QLatin1Char('0')));
        return 0;
    case ATTR_STALE:
        if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
            meter->setStale(value != 0);
        } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
            lamp->setStale(value != 0);
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_WRAP_AT_SPACES:
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QString text = LabelText(label);
            label->setProperty(kWrapAtSpaces, value != 0);
            SetLabelText(label, text);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_MIN_VALUE:
    case ATTR_MAX_VALUE:
    case ATTR_CTRL_VAL:
        return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    QSignalBlocker block(w);
    switch (attribute) {
    case ATTR_MIN_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setMinimum(value);
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            s->setMinimum(static_cast<int>(value));
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_MAX_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            d->setMaximum(value);
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            s->setMaximum(static_cast<int>(value));
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_CTRL_VAL:
        return SetCtrlVal(panel, control, value);
    default:
        return SetCtrlAttribute(panel, control, attribute, static_cast<int>(value));
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w) {
        return UIE_BAD_CONTROL;
    }
    if (attribute == ATTR_CTRL_VAL) {
        return SetCtrlVal(panel, control, value);
    }
    if (attribute == ATTR_TOOLTIP) {
        w->setToolTip(ToQ(value));
        return 0;
    }
    if (attribute != ATTR_LABEL_TEXT) {
        return UIE_BAD_ATTRIBUTE;
    }
    const QString text = ToQ(value);
    if (rec->label) {
        rec->label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        lab->setText(text);
    } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
        lamp->setText(text);
    } else if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
        meter->setCaption(text);
    } else if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
        chart->setTitle(text);
    } else if (auto* graph = qobject_cast<Vx52Graph*>(w)) {
        graph->setTitle(text);
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_DIMMED:
        *value = w->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_VISIBLE:
        // Whether the control is set visible, whatever its panel's state.
        *value = w->isHidden() ? 0 : 1;
        return 0;
    case ATTR_WIDTH:
        *value = w->width();
        return 0;
    case ATTR_HEIGHT:
        *value = w->height();
        return 0;
    case ATTR_PRECISION:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->decimals();
        } else if (auto* m = qobject_cast<Vx52Meter*>(w)) {
            *value = m->precision();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_POINTS_PER_SCREEN:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            *value = chart->pointsPerScreen();
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_CHART_PAUSED:
        if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
            *value = chart->paused() ? 1 : 0;
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    case ATTR_STALE:
        if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
            *value = meter->stale() ? 1 : 0;
        } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
            *value = lamp->stale() ? 1 : 0;
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_CTRL_VAL:
        return GetCtrlVal(panel, control, value);
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value) {
    QWidget* w = FindCtrl(panel, control);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    switch (attribute) {
    case ATTR_MIN_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->minimum();
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            *value = s->minimum();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_MAX_VALUE:
        if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
            *value = d->maximum();
        } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
            *value = s->maximum();
        } else {
            return UIE_BAD_ATTRIBUTE;
        }
        return 0;
    case ATTR_CTRL_VAL:
        return GetCtrlVal(panel, control, value);
    default: {
        int i = 0;
        const int rc = GetCtrlAttribute(panel, control, attribute, &i);
        *value = i;
        return rc;
    }
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string* value) {
    CtrlRec* rec = nullptr;
    QWidget* w = FindCtrl(panel, control, &rec);
    if (!w || !value) {
        return UIE_BAD_CONTROL;
    }
    if (attribute == ATTR_CTRL_VAL) {
        return GetCtrlVal(panel, control, value);
    }
    if (attribute == ATTR_TOOLTIP) {
        *value = w->toolTip().toStdString();
        return 0;
    }
    if (attribute != ATTR_LABEL_TEXT) {
        return UIE_BAD_ATTRIBUTE;
    }
    if (rec->label) {
        *value = rec->label->text().toStdString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        *value = button->text().toStdString();
    } else if (auto* lab = qobject_cast<QLabel*>(w)) {
        *value = lab->text().toStdString();
    } else if (auto* lamp = qobject_cast<Vx52Lamp*>(w)) {
        *value = lamp->text().toStdString();
    } else if (auto* meter = qobject_cast<Vx52Meter*>(w)) {
        *value = meter->caption().toStdString();
    } else if (auto* chart = qobject_cast<Vx52StripChart*>(w)) {
        *value = chart->title().toStdString();
    } else {
        return UIE_BAD_ATTRIBUTE;
    }
    return 0;
}
