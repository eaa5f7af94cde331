#pragma once

#include <QAbstractButton>

namespace morvane {

/// The label of a lens: a whole factor as its number ("2"), any other with one decimal and "0." shortened to
/// "." (".5", "1.5"), "×" appended when selected. A factor that is not finite or too large reads "—".
QString lensLabelText(double lens, bool selected);

/// One round choice in the row of lens buttons: the label on a dark disc, yellow when selected.
class LensButton : public QAbstractButton {
    Q_OBJECT
public:
    LensButton(double lens, bool selected, QWidget* parent = nullptr);

    double lens() const { return lens_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    QString labelText() const { return lensLabelText(lens_, selected_); }

    QSize sizeHint() const override { return {38, 38}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double lens_;
    bool selected_;
};

}  // namespace morvane
