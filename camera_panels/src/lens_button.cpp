#include "camera_panels/lens_button.h"

#include <QPainter>

#include <cmath>
#include <cstdio>

#include "camera_panels/status_texts.h"
#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane {

QString lensLabelText(double lens, bool selected) {
    QString text;
    if (!wholeNumber(lens)) {
        text = QString::fromUtf8(missingValueText);
    } else if (lens == std::round(lens)) {
        text = QString::number(*wholeNumber(lens));
    } else {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.1f", lens);
        text = QString::fromUtf8(buffer);
        // Only a leading zero goes (0.5 reads .5): 10.5 must still read 10.5.
        const int digits = text.startsWith(QLatin1Char('-')) ? 1 : 0;
        if (text.mid(digits, 2) == QStringLiteral("0.")) text.remove(digits, 1);
    }
    if (selected) text += QStringLiteral("×");
    return text;
}

LensButton::LensButton(double lens, bool selected, QWidget* parent)
    : QAbstractButton(parent), lens_(lens), selected_(selected) {
    setFixedSize(38, 38);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(labelText() + QStringLiteral(" zoom"));
}

void LensButton::setSelected(bool selected) {
    if (selected == selected_) return;
    selected_ = selected;
    setAccessibleName(labelText() + QStringLiteral(" zoom"));
    update();
}

void LensButton::paintEvent(QPaintEvent*) {
    using namespace theme;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(black(isDown() ? 0.65 : 0.45));
    p.drawEllipse(QRectF(0, 0, 38, 38));
    p.setFont(theme::font(TextStyle::caption, QFont::Bold));
    p.setPen(selected_ ? yellow() : QColor(Qt::white));
    p.drawText(QRectF(0, 0, 38, 38), Qt::AlignCenter, labelText());
}

}  // namespace morvane
