#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "app/press_clock.h"

class QGridLayout;

namespace morvane {

class DeckButton;
class MonitorController;

/// Deck mode without live pictures: one large button per camera in two columns, numbered in camera order; a
/// click puts the camera on air, dropping one button on another moves that camera to the other's place.
class DeckButtons : public QWidget {
    Q_OBJECT
public:
    /// `pressMadeAt`: when the click being handled was pressed.
    DeckButtons(std::shared_ptr<MonitorController> controller, bool compact, PressMoment pressMadeAt = {},
                QWidget* parent = nullptr);

    void setCompact(bool compact);
    const std::vector<DeckButton*>& buttons() const { return buttons_; }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void refresh();
    void place();

    std::shared_ptr<MonitorController> controller_;
    PressMoment pressMadeAt_;
    bool compact_;
    std::vector<DeckButton*> buttons_;
};

}  // namespace morvane
