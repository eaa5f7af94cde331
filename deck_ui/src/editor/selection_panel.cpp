#include "deck_ui/editor/selection_panel.h"

#include <QHBoxLayout>
#include <QPainter>

#include "deck_ui/editor/editor_rules.h"
#include "deck_ui/editor/retouch_editor.h"
#include "editor_widgets.h"

namespace morvane {

using namespace editorui;

SelectionPanel::SelectionPanel(RetouchEditor& editor, QWidget* parent) : QWidget(parent), editor_(editor) {
    setObjectName(QStringLiteral("selectionPanel"));
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(8, 8, 8, 8);
    connect(&editor_, &RetouchEditor::selectionChanged, this, &SelectionPanel::rebuild);
    connect(&editor_, &RetouchEditor::editChanged, this, &SelectionPanel::rebuild);
    // The times are written at the take's rate, known once the first preview is built.
    connect(&editor_, &RetouchEditor::stateChanged, this, [this] {
        if (editor_.framesPerSecond() != shownRate_) rebuild();
    });
    rebuild();
}

void SelectionPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    theme::fillRoundedRect(p, QRectF(rect()), 10, theme::white(0.06));
}

void SelectionPanel::rebuild() {
    theme::clearLayout(*row_);
    shownRate_ = editor_.framesPerSecond();
    const auto& edit = editor_.edit();
    const auto& selection = editor_.selection();
    const auto caption = [this](const std::string& text) {
        return label(QString::fromStdString(text), theme::TextStyle::caption, theme::white(), this);
    };

    if (edit && selection) {
        if (const auto* point = selection->as<EditorSelection::SwitchPoint>()) {
            if (const auto text = editor::switchPanelText(*edit, *point, editor_.framesPerSecond())) {
                shown_ = QStringLiteral("switch");
                row_->setSpacing(14);
                const Uuid id = point->id;
                row_->addWidget(caption(*text));
                auto* earlier = symbolButton(
                    "chevron.left", {}, theme::TextStyle::body, [this, id] { editor_.nudgeSwitch(id, -1.0 / 30); },
                    this);
                earlier->setAccessibleName(tr("Earlier"));
                auto* later = symbolButton(
                    "chevron.right", {}, theme::TextStyle::body, [this, id] { editor_.nudgeSwitch(id, 1.0 / 30); },
                    this);
                later->setAccessibleName(tr("Later"));
                auto* remove = symbolButton(
                    "trash", {}, theme::TextStyle::body, [this, id] { editor_.deleteSwitch(id); }, this, true);
                remove->setAccessibleName(tr("Delete switch"));
                row_->addWidget(earlier);
                row_->addWidget(later);
                row_->addWidget(remove);
                row_->addStretch();
                return;
            }
        } else if (const auto* block = selection->as<EditorSelection::Block>()) {
            shown_ = QStringLiteral("block");
            row_->setSpacing(12);
            const double start = block->start, end = block->end;
            row_->addWidget(caption(editor::blockPanelText(*edit, start, end, editor_.framesPerSecond())));
            row_->addStretch();
            row_->addWidget(symbolButton(
                "scissors", tr("Remove"), theme::TextStyle::subheadline,
                [this, start, end] { editor_.removeBlock(start, end); }, this, true));
            row_->addWidget(textButton(
                tr("Done"), theme::TextStyle::subheadline, [this] { editor_.setSelection(std::nullopt); }, this));
            return;
        } else if (const auto* removed = selection->as<EditorSelection::Removed>()) {
            shown_ = QStringLiteral("removed");
            row_->setSpacing(12);
            const Uuid id = removed->id;
            row_->addWidget(caption("Removed part"));
            row_->addStretch();
            row_->addWidget(symbolButton(
                "arrow.uturn.backward", tr("Restore"), theme::TextStyle::subheadline,
                [this, id] { editor_.restoreSection(id); }, this));
            row_->addWidget(textButton(
                tr("Done"), theme::TextStyle::subheadline, [this] { editor_.setSelection(std::nullopt); }, this));
            return;
        }
    }
    shown_ = QStringLiteral("help");
    auto* help = label(QString::fromUtf8(editor::helpText), theme::TextStyle::caption, theme::secondary(), this);
    help->setWordWrap(true);
    help->setObjectName(QStringLiteral("helpText"));
    row_->addWidget(help, 1);
}

}  // namespace morvane
