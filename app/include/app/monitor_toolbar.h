#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>

#include "app/monitor_screen_rules.h"

class QHBoxLayout;
class QLabel;

namespace morvane {

class RoundIconButton;

/// The deck switch of the top bar: "Deck" with the symbol "rectangle.3.group" on a capsule, red with a black
/// label while the deck is on, white on the dark material of the bar's buttons while it is off (`deckSwitchFace`).
class DeckSwitch : public QWidget {
    Q_OBJECT
public:
    explicit DeckSwitch(std::function<void()> toggle, QWidget* parent = nullptr);

    bool isOn() const { return on_; }
    void setOn(bool on);
    /// The live cut offered back (`MonitorController.liveCutOffered`).
    void setOffered(bool offered);
    bool isOffered() const { return offered_; }
    /// Without its word, the symbol alone (a narrow bar); the name stays for screen readers and the tooltip.
    void setShowsWord(bool shows);
    bool showsWord() const { return showsWord_; }
    /// How much narrower the switch is without its word.
    qreal wordWidth() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refreshFace();

    std::function<void()> toggle_;
    bool on_ = false;
    bool offered_ = false;
    bool showsWord_ = true;
};

/// The remote screen's top bar (one row; see `toolbarItems`). It only shows the screen's state and calls the
/// actions it is given; the screen refreshes it on every change.
class MonitorToolbar : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> exit;  ///< the close button; absent in the desktop configuration
        std::function<void()> openSettings;
        std::function<void()> toggleDeck;
        std::function<void()> openTakes;
        std::function<void()> toggleLivePictures;
        std::function<void()> openNearbyDevices;
        std::function<void()> openShootFolder;
        std::function<void()> openCameras;
    };

    explicit MonitorToolbar(Actions actions, QWidget* parent = nullptr);

    /// Shows the items of `state`, the deck switch and live-pictures faces and the badge.
    void refresh(const MonitorScreenState& state, int deckCopiesArriving);
    /// Puts the single-camera pills in their place (null clears it); the bar takes ownership.
    void setSingleFeedPills(QWidget* pills);

    /// The items shown now, in order.
    std::vector<ToolbarItem> shownItems() const;
    /// The widget of an item (whether or not it is shown); null for the pills while they are empty.
    QWidget* item(ToolbarItem which) const;
    DeckSwitch* deckSwitch() const { return deckSwitch_; }
    QLabel* takesBadge() const { return badge_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void add(ToolbarItem which, QWidget* widget);
    /// Fits the shown items to the bar's width (`fitTopBar`).
    void fitItems();

    QHBoxLayout* row_;
    std::map<ToolbarItem, QPointer<QWidget>> items_;
    QPointer<QWidget> pillsHolder_;
    QPointer<QWidget> pills_;
    DeckSwitch* deckSwitch_;
    RoundIconButton* livePictures_;
    QLabel* badge_;
    std::vector<ToolbarItem> shown_;
};

}  // namespace morvane
