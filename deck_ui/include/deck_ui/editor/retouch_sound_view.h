#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "deck/retouch_edit.h"

class QVBoxLayout;

namespace morvane {

class RetouchEditor;

/// The sound sheet: whose sound the program carries, and each camera's volume and sound sync. It owns no state:
/// every control writes the editor's working edit at once; the editor commits once when the sheet closes.
class RetouchSoundView : public QDialog {
    Q_OBJECT

public:
    RetouchSoundView(RetouchEditor& editor, std::vector<std::string> cameras, QWidget* parent = nullptr);

    const std::vector<std::string>& cameras() const { return cameras_; }

private:
    void rebuild();
    void refreshValues();
    void change(const std::function<void(RetouchEdit&)>& write);
    std::string layoutKey() const;

    RetouchEditor& editor_;
    std::vector<std::string> cameras_;
    QVBoxLayout* content_ = nullptr;
    std::string builtFor_;
};

}  // namespace morvane
