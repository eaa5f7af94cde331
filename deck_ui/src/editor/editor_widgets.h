#pragma once

// Small building blocks shared by the editor's pieces.

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QToolButton>

#include <functional>
#include <string>

#include "platform/symbols.h"
#include "platform/theme.h"

namespace morvane::editorui {

/// A flat button with a symbol and an optional title, white (or red for a destructive one) on nothing.
inline QToolButton* symbolButton(const std::string& symbol, const QString& title, theme::TextStyle style,
                                 std::function<void()> action, QWidget* parent, bool destructive = false) {
    auto* button = new QToolButton(parent);
    const QColor tint = destructive ? theme::red() : theme::blue();
    const qreal size = symbolPixelSize(theme::pointSize(style));
    button->setIcon(symbolIcon(symbol, tint, size));
    button->setIconSize(QSize(int(size), int(size)));
    button->setFont(theme::font(style));
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    if (!title.isEmpty()) {
        button->setText(title);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    } else {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, tint);
    button->setPalette(palette);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 4px 6px; color: %1; }"
                                         "QToolButton:hover { background: rgba(255,255,255,20); border-radius: 6px; }"
                                         "QToolButton:disabled { color: rgba(255,255,255,70); }")
                              .arg(tint.name()));
    if (action) QObject::connect(button, &QToolButton::clicked, button, [action] { action(); });
    return button;
}

/// A plain text button in the accent colour.
inline QPushButton* textButton(const QString& title, theme::TextStyle style, std::function<void()> action,
                               QWidget* parent, bool bold = false) {
    auto* button = new QPushButton(title, parent);
    button->setFont(bold ? theme::font(style, QFont::DemiBold) : theme::font(style));
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 4px 8px; color: %1; }"
                                         "QPushButton:hover { background: rgba(255,255,255,20); border-radius: 6px; }"
                                         "QPushButton:disabled { color: rgba(255,255,255,70); }")
                              .arg(theme::blue().name()));
    if (action) QObject::connect(button, &QPushButton::clicked, button, [action] { action(); });
    return button;
}

inline QLabel* label(const QString& text, theme::TextStyle style, const QColor& color, QWidget* parent,
                     QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(text, parent);
    l->setFont(weight == QFont::Normal ? theme::font(style) : theme::font(style, weight));
    theme::setTextColor(*l, color);
    return l;
}

}  // namespace morvane::editorui
