#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "link/trusted_peers.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QStackedWidget;
class QVBoxLayout;
class QListWidget;

namespace morvane {

class Defaults;
class Keychain;
class ShootLibrary;

/// Texts and rules of the settings screen.
namespace settings {
/// "Camera" for role 1, else "Remote"; then " · paired ", the abbreviated date, " · " and the key's fingerprint.
QString pairedDeviceLine(const TrustedPeer& peer);
/// The voice section's footer for the recognition language, or the missing-model text.
QString voiceFooter(const std::optional<std::string>& language);
/// The help section's footer with the addresses below.
QString helpFooter();
inline constexpr const char* feedbackAddress = "feedback@brindlecroft.app";
inline constexpr const char* contactAddress = "hello@brindlecroft.app";
inline constexpr const char* helpPageAddress = "https://brindlecroft.app/help.html";
}  // namespace settings

/// The remote's settings: the name other devices see, the paired devices (forget one or several), whether and
/// where the cameras' files are kept, the four spoken words, help and contact links, and how devices connect.
/// Each control stores its own setting (the name and the words on Return or "Done").
class SettingsView : public QWidget {
    Q_OBJECT
public:
    /// Where the screen reads and writes; the defaults are the application's own.
    struct Environment {
        std::shared_ptr<Keychain> keychain;    ///< none: the application's keychain
        Defaults* defaults = nullptr;          ///< none: the application's defaults
        ShootLibrary* shootLibrary = nullptr;  ///< none: the shared library
        /// The recognition language's name, or none (no model installed).
        std::function<std::optional<std::string>()> speechLanguage;
        /// Opens an address in the desktop's handler (mail, browser, file browser).
        std::function<void(const QUrl&)> openURL;
        /// The folder the user picks; none when the picker was cancelled.
        std::function<std::optional<std::filesystem::path>()> chooseFolder;
        /// Where captures that could not be filed wait to be filed; empty: not offered.
        std::filesystem::path unfiledFolder;
    };

    SettingsView();
    explicit SettingsView(Environment environment, QWidget* parent = nullptr);

    // The screen's operations, as its controls run them.
    void saveName();
    void saveWords();
    void done();
    void forget(const std::vector<int>& rows);
    void setImportsFiles(bool on);
    void chooseFolder();
    void useDefaultFolder();
    void openFolder();
    void openUnfiledFolder();

    // What it shows, for tests.
    QLineEdit* nameField() const { return name_; }
    QLineEdit* wordField(int index) const { return words_[static_cast<std::size_t>(index)]; }
    const std::vector<TrustedPeer>& paired() const { return paired_; }
    QListWidget* pairedList() const { return pairedList_; }
    QCheckBox* importsToggle() const { return imports_; }
    QString shootFolderText() const;
    QPushButton* defaultFolderButton() const { return useDefault_; }
    QPushButton* unfiledFolderButton() const { return openUnfiled_; }
    QLabel* voiceFooterLabel() const { return voiceFooter_; }

signals:
    /// "Done": the sheet closes.
    void dismissRequested();

private:
    void build();
    QWidget* buildForm();
    void loadPaired();
    void refreshPaired();
    void refreshFolder();
    Defaults& defaults() const;
    ShootLibrary& shootLibrary() const;

    Environment env_;
    std::vector<TrustedPeer> paired_;
    QStackedWidget* stack_ = nullptr;
    QLineEdit* name_ = nullptr;
    std::vector<QLineEdit*> words_;
    QListWidget* pairedList_ = nullptr;
    QLabel* noPaired_ = nullptr;
    QCheckBox* imports_ = nullptr;
    QLabel* folder_ = nullptr;
    QPushButton* useDefault_ = nullptr;
    QPushButton* openUnfiled_ = nullptr;
    QLabel* voiceFooter_ = nullptr;
    QWidget* help_ = nullptr;
    QLabel* title_ = nullptr;
    QPushButton* back_ = nullptr;
};

}  // namespace morvane
