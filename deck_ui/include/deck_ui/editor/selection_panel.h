#pragma once

#include <QWidget>

class QHBoxLayout;

namespace morvane {

class RetouchEditor;

/// The box under the camera row: the help text while nothing is selected, else the panel of the selected switch,
/// block or removed part with its commands.
class SelectionPanel : public QWidget {
    Q_OBJECT

public:
    explicit SelectionPanel(RetouchEditor& editor, QWidget* parent = nullptr);

    /// Which panel shows: "help", "switch", "block" or "removed".
    QString shownPanel() const { return shown_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();

    RetouchEditor& editor_;
    QHBoxLayout* row_ = nullptr;
    QString shown_;
    double shownRate_ = 0;
};

}  // namespace morvane
