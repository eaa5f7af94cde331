#pragma once

#include <QSlider>

namespace morvane {

/// The panels' slider look: a thin track filled in the tint up to a round white knob.
inline void stylePanelSlider(QSlider& slider, const QString& tint = QStringLiteral("#FFFFFF")) {
    slider.setStyleSheet(QStringLiteral("QSlider { min-height: 26px; }"
                                        "QSlider::groove:horizontal { height: 4px; border-radius: 2px;"
                                        " background: rgba(255,255,255,56); }"
                                        "QSlider::sub-page:horizontal { height: 4px; border-radius: 2px;"
                                        " background: %1; }"
                                        "QSlider::handle:horizontal { width: 20px; height: 20px; margin: -8px 0;"
                                        " border-radius: 10px; background: #FFFFFF; }"
                                        "QSlider::sub-page:horizontal:disabled { background: rgba(255,255,255,90); }")
                             .arg(tint));
}

}  // namespace morvane
